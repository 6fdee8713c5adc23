#pragma once
// Public C++ API of Hanamail: the email object and the string type its
// operations take.
//
//   #include <hanamail/Email.h>
//   ClsEmail email;
//   XString name, addr;
//   name.setFromUtf8("Taro");
//   addr.setFromUtf8("taro@example.com");
//   email.AddTo(name, addr);
//   XString mime;
//   email.GetMime(mime);          // mime.getUtf8()
//   XString xml;
//   email.GetXml(xml);            // the XML form; SetFromXmlText reads it back
//   XString log;
//   email.getErrorText(log, false);   // what the last operation did
#include "component/ClsEmail.h"
#include "foundation/DataBuffer.h"
#include "foundation/XString.h"
