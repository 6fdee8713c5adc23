// Runs the steps of a program file against Hanamail objects and saves what
// the members return, each in a UTF-16 file of the output folder.
//   cscript //nologo steps.js PROGRAM OUTDIR
// The program's form is that of steps.vbs beside this file: steps separated
// by U+001E, fields by U+001F; "new", "call", "get", "put" and "drop"; an
// argument U+001D + KEY stands for a saved result, U+001D alone for the
// object itself and U+001D + "[" for an array of two strings.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var outDir = WScript.Arguments(1);
var objects = {};
var saved = {};
var errors = "";
var RS = String.fromCharCode(30), US = String.fromCharCode(31), REF = String.fromCharCode(29);

function writeText(name, text) {
    var f = fso.CreateTextFile(outDir + "\\" + name, true, true);
    f.Write(text);
    f.Close();
}

function save(key, v) {
    var kind, text = "";
    if (v === null) kind = "null";
    else if (typeof v == "undefined") kind = "empty";
    else if (typeof v == "string") { kind = "string"; text = v; }
    else if (typeof v == "number") { kind = "number"; text = String(v); }
    else kind = "typeof " + typeof v;
    saved[key] = v;
    writeText(key + ".txt", kind + "\n" + text);
}

function member(o, m, a) {
    switch (m) {
    case "SmtpHost": return o.SmtpHost;
    case "SmtpLogin": return o.SmtpLogin;
    case "SmtpPassword": return o.SmtpPassword;
    case "Charset": return o.Charset;
    case "ErrorInfo": return o.ErrorInfo;
    case "SetHtmlBody": o.SetHtmlBody(a[0]); return;
    case "LoadHtmlComplete": return o.LoadHtmlComplete(a[0]);
    case "SetPlainTextBody": o.SetPlainTextBody(a[0]); return;
    case "AddHeaderField": o.AddHeaderField(a[0], a[1]); return;
    case "AddRecipient": o.AddRecipient(a[0], a[1], a[2]); return;
    case "ExportToXML": return o.ExportToXML();
    case "ImportFromXML": o.ImportFromXML(a[0]); return;
    case "AddFileAttachment": return o.AddFileAttachment(a[0]);
    case "AddDataAttachment": o.AddDataAttachment(a[0], a[1]); return;
    case "ZipAttachments": o.ZipAttachments(a[0]); return;
    case "ImportFromMime": o.ImportFromMime(a[0]); return;
    case "ExportToMime": return o.ExportToMime();
    case "SendMail": return o.SendMail();
    case "ReadFile": return o.ReadFile(a[0], a[1]);
    case "WriteFile": return o.WriteFile(a[0], a[1], a[2]);
    case "AddStringAttachment": o.AddStringAttachment(a[0], a[1]); return;
    case "ExportToMimeFile": o.ExportToMimeFile(a[0]); return;
    }
    throw new Error("no member " + m);
}

function putProperty(o, m, v) {
    switch (m) {
    case "SmtpHost": o.SmtpHost = v; return;
    case "SmtpLogin": o.SmtpLogin = v; return;
    case "SmtpPassword": o.SmtpPassword = v; return;
    case "Charset": o.Charset = v; return;
    }
    throw new Error("no property " + m);
}

function args(o, fields, first) {
    var a = [];
    for (var i = first; i < fields.length; i++) {
        var f = fields[i];
        if (f == REF) a.push(o);
        else if (f == REF + "[") a.push(["a", "b"]);
        else if (f.charAt(0) == REF) a.push(saved[f.substring(1)]);
        else a.push(f);
    }
    return a;
}

var program = fso.OpenTextFile(WScript.Arguments(0), 1, false, -1);
var steps = program.ReadAll().split(RS);
program.Close();
var count = 0;

for (var n = 0; n < steps.length; n++) {
    if (steps[n].length == 0) continue;
    var fields = steps[n].split(US);
    try {
        var o = objects[fields[1]];
        switch (fields[0]) {
        case "new": objects[fields[1]] = new ActiveXObject(fields[2]); break;
        case "drop": delete objects[fields[1]]; break;
        case "call": member(o, fields[2], args(o, fields, 3)); break;
        case "get": save(fields[2], member(o, fields[3], args(o, fields, 4))); break;
        case "put": putProperty(o, fields[2], fields[3]); break;
        default: throw new Error("no step " + fields[0]);
        }
    } catch (e) {
        errors += "step " + n + " (" + fields.join(" ") + "): " + e.number + " " + e.message + "\n";
    }
    count++;
}

writeText("_errors.txt", errors);
objects = null;
WScript.Echo("steps done: " + count);
