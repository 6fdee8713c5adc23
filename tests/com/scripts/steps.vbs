' Runs the steps of a program file against Hanamail objects and saves what
' the members return, each in a UTF-16 file of the output folder.
'   cscript //nologo steps.vbs PROGRAM OUTDIR
' PROGRAM is UTF-16 text: steps separated by Chr(30), fields by Chr(31):
'   new  OBJ PROGID              creates an object by its ProgID
'   call OBJ MEMBER ARGS...      calls a member, its result dropped
'   get  OBJ KEY MEMBER ARGS...  calls a member (or reads a property), saves the result as KEY
'   put  OBJ PROPERTY VALUE      writes a property
'   drop OBJ                     releases the object
' An argument Chr(29) & KEY stands for the result saved as KEY, Chr(29)
' alone for the object itself and Chr(29) & "[" for an array of two strings. Errors are listed in _errors.txt; the last
' line printed is the marker the caller looks for.
Option Explicit

Dim fso, outDir, objects, saved, errors
Set fso = CreateObject("Scripting.FileSystemObject")
Set objects = CreateObject("Scripting.Dictionary")
Set saved = CreateObject("Scripting.Dictionary")
outDir = WScript.Arguments(1)
errors = ""

Sub WriteText(name, text)
    Dim f
    Set f = fso.CreateTextFile(outDir & "\" & name, True, True)
    f.Write text
    f.Close
End Sub

Sub Save(key, v)
    Dim kind, text
    text = ""
    Select Case VarType(v)
        Case 0: kind = "empty"
        Case 1: kind = "null"
        Case 8: kind = "string": text = v
        Case 2, 3: kind = "number": text = CStr(v)
        Case Else: kind = "vartype " & VarType(v)
    End Select
    If saved.Exists(key) Then saved.Remove key
    saved.Add key, v
    WriteText key & ".txt", kind & vbLf & text
End Sub

Function Member(o, m, a)
    Member = Empty
    Select Case m
        Case "SmtpHost": Member = o.SmtpHost
        Case "SmtpLogin": Member = o.SmtpLogin
        Case "SmtpPassword": Member = o.SmtpPassword
        Case "Charset": Member = o.Charset
        Case "ErrorInfo": Member = o.ErrorInfo
        Case "SetHtmlBody": o.SetHtmlBody a(0)
        Case "LoadHtmlComplete": Member = o.LoadHtmlComplete(a(0))
        Case "SetPlainTextBody": o.SetPlainTextBody a(0)
        Case "AddHeaderField": o.AddHeaderField a(0), a(1)
        Case "AddRecipient": o.AddRecipient a(0), a(1), a(2)
        Case "ExportToXML": Member = o.ExportToXML()
        Case "ImportFromXML": o.ImportFromXML a(0)
        Case "AddFileAttachment": Member = o.AddFileAttachment(a(0))
        Case "AddDataAttachment": o.AddDataAttachment a(0), a(1)
        Case "ZipAttachments": o.ZipAttachments a(0)
        Case "ImportFromMime": o.ImportFromMime a(0)
        Case "ExportToMime": Member = o.ExportToMime()
        Case "SendMail": Member = o.SendMail()
        Case "ReadFile": Member = o.ReadFile(a(0), a(1))
        Case "WriteFile": Member = o.WriteFile(a(0), a(1), a(2))
        Case "AddStringAttachment": o.AddStringAttachment a(0), a(1)
        Case "ExportToMimeFile": o.ExportToMimeFile a(0)
        Case Else: Err.Raise 5, , "no member " & m
    End Select
End Function

Sub PutProperty(o, m, v)
    Select Case m
        Case "SmtpHost": o.SmtpHost = v
        Case "SmtpLogin": o.SmtpLogin = v
        Case "SmtpPassword": o.SmtpPassword = v
        Case "Charset": o.Charset = v
        Case Else: Err.Raise 5, , "no property " & m
    End Select
End Sub

' The arguments of a step from field first on; a member with a VARIANT
' parameter gets the object itself where the field asks for it.
Function Arguments(o, fields, first)
    Dim a(3), i, f
    For i = first To UBound(fields)
        f = fields(i)
        If f = Chr(29) Then
            Set a(i - first) = o
        ElseIf f = Chr(29) & "[" Then
            a(i - first) = Array("a", "b")
        ElseIf Left(f, 1) = Chr(29) Then
            a(i - first) = saved(Mid(f, 2))
        Else
            a(i - first) = f
        End If
    Next
    Arguments = a
End Function

Dim program, steps, n, fields, o, v, count
Set program = fso.OpenTextFile(WScript.Arguments(0), 1, False, -1)
steps = Split(program.ReadAll, Chr(30))
program.Close
count = 0

On Error Resume Next
For n = 0 To UBound(steps)
    If Len(steps(n)) > 0 Then
        fields = Split(steps(n), Chr(31))
        Select Case fields(0)
            Case "new"
                If objects.Exists(fields(1)) Then objects.Remove fields(1)
                objects.Add fields(1), CreateObject(fields(2))
            Case "drop"
                objects.Remove fields(1)
            Case "call"
                v = Member(objects(fields(1)), fields(2), Arguments(objects(fields(1)), fields, 3))
            Case "get"
                v = Member(objects(fields(1)), fields(3), Arguments(objects(fields(1)), fields, 4))
                If Err.Number = 0 Then Save fields(2), v
            Case "put"
                PutProperty objects(fields(1)), fields(2), fields(3)
            Case Else
                Err.Raise 5, , "no step " & fields(0)
        End Select
        If Err.Number <> 0 Then
            errors = errors & "step " & n & " (" & Replace(steps(n), Chr(31), " ") & "): " & Err.Number & " " & Err.Description & vbLf
            Err.Clear
        End If
        count = count + 1
    End If
Next
On Error GoTo 0

WriteText "_errors.txt", errors
objects.RemoveAll
WScript.Echo "steps done: " & count
