' Composes an email in Japanese with an attachment and sends it with SMTP
' authentication through the Hanamail component (register Hanamail.dll first).
'
'   set HANAMAIL_SMTP_PASSWORD=...
'   cscript //nologo hanamail_sample.vbs HOST LOGIN FROM TO ATTACHMENT [MESSAGE]
'
' The password is read from the environment, never from the command line.
' MESSAGE is a UTF-8 text file whose first line is the subject and the rest
' the body (message.txt beside this script by default); a script file holds
' no text beyond its code page, so the Japanese text lives there.
' The component sends to port 25 of HOST.
Option Explicit

Dim args, fso, shell, mail, password, messageFile, text, lineEnd, subject, body
Set args = WScript.Arguments
If args.Count < 5 Then
    WScript.Echo "usage: cscript //nologo hanamail_sample.vbs HOST LOGIN FROM TO ATTACHMENT [MESSAGE]"
    WScript.Quit 2
End If

Set fso = CreateObject("Scripting.FileSystemObject")
Set shell = CreateObject("WScript.Shell")
password = shell.Environment("PROCESS")("HANAMAIL_SMTP_PASSWORD")
If args.Count > 5 Then
    messageFile = args(5)
Else
    messageFile = fso.BuildPath(fso.GetParentFolderName(WScript.ScriptFullName), "message.txt")
End If

Set mail = CreateObject("Hanamail.Hanamail")

' The component reads the message text itself, in the charset named.
text = mail.ReadFile(messageFile, "utf-8")
If Len(text) = 0 Then
    WScript.Echo "cannot read " & messageFile
    WScript.Quit 1
End If
lineEnd = InStr(text, vbLf)
If lineEnd = 0 Then lineEnd = Len(text) + 1
subject = Replace(Left(text, lineEnd - 1), vbCr, "")
body = Mid(text, lineEnd + 1)

mail.SmtpHost = args(0)
mail.SmtpLogin = args(1)
mail.SmtpPassword = password

mail.Charset = "iso-2022-jp"
mail.AddHeaderField "From", args(2)
mail.AddHeaderField "Subject", subject
mail.AddRecipient "To", "", args(3)
mail.SetPlainTextBody body
If mail.AddFileAttachment(args(4)) <> 1 Then
    WScript.Echo "cannot attach " & args(4) & ":"
    WScript.Echo mail.ErrorInfo
    WScript.Quit 1
End If

If mail.SendMail() <> 1 Then
    ' The log after a send is the mail manager's; it never shows the password.
    WScript.Echo "the send failed:"
    WScript.Echo mail.ErrorInfo
    WScript.Quit 1
End If
WScript.Echo "hanamail sample: sent to " & args(3)
