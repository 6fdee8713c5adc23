#pragma once
// Each sub-command of the tool lives in its own file. argv[0] is the
// sub-command's name; the return value is the process exit status.

namespace hanamail {

int cmdCapture(int argc, char** argv);
int cmdCharset(int argc, char** argv);
int cmdCompose(int argc, char** argv);
int cmdConvert(int argc, char** argv);
int cmdFile(int argc, char** argv);
int cmdSend(int argc, char** argv);
int cmdMimeToXml(int argc, char** argv);
int cmdShow(int argc, char** argv);
int cmdXmlToMime(int argc, char** argv);

}  // namespace hanamail
