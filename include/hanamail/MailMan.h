#pragma once
// Public C++ API of Hanamail: SMTP delivery.
//
//   #include <hanamail/MailMan.h>
//   ClsMailMan mailman;
//   XString host, user, password;
//   host.setFromUtf8("smtp.example.com");
//   mailman.put_SmtpHost(host);
//   ...
//   if (!mailman.SendEmail(&email)) {
//       XString log;
//       mailman.getErrorText(log, false);   // why
//   }
#include "Email.h"
#include "component/ClsMailMan.h"
