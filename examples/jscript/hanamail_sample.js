// Composes an email in Japanese with an attachment and sends it with SMTP
// authentication through the Hanamail component (register Hanamail.dll first).
//
//   set HANAMAIL_SMTP_PASSWORD=...
//   cscript //nologo hanamail_sample.js HOST LOGIN FROM TO ATTACHMENT
//
// The password is read from the environment, never from the command line.
// Text beyond ASCII is written with \u escapes, so the file is the same in
// any code page. The component sends to port 25 of HOST.
var args = WScript.Arguments;
if (args.length < 5) {
    WScript.Echo("usage: cscript //nologo hanamail_sample.js HOST LOGIN FROM TO ATTACHMENT");
    WScript.Quit(2);
}
var shell = new ActiveXObject("WScript.Shell");
var password = shell.Environment("PROCESS").Item("HANAMAIL_SMTP_PASSWORD");

// "週次報告のお知らせ" and a short body.
var subject = "\u9031\u6b21\u5831\u544a\u306e\u304a\u77e5\u3089\u305b";
var body = "\u5404\u4f4d\r\n\r\n" +
    "\u4eca\u9031\u306e\u5831\u544a\u3092\u6dfb\u4ed8\u3057\u307e\u3059\u3002\r\n" +
    "\u3088\u308d\u3057\u304f\u304a\u9858\u3044\u3057\u307e\u3059\u3002\r\n";

var mail = new ActiveXObject("Hanamail.Hanamail");
mail.SmtpHost = args(0);
mail.SmtpLogin = args(1);
mail.SmtpPassword = password;

mail.Charset = "utf-8";
mail.AddHeaderField("From", args(2));
mail.AddHeaderField("Subject", subject);
mail.AddRecipient("To", "", args(3));
mail.SetPlainTextBody(body);
if (mail.AddFileAttachment(args(4)) != 1) {
    WScript.Echo("cannot attach " + args(4) + ":");
    WScript.Echo(mail.ErrorInfo);
    WScript.Quit(1);
}

if (mail.SendMail() != 1) {
    // The log after a send is the mail manager's; it never shows the password.
    WScript.Echo("the send failed:");
    WScript.Echo(mail.ErrorInfo);
    WScript.Quit(1);
}
WScript.Echo("hanamail sample: sent to " + args(3));
