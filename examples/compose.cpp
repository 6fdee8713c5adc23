// Composes a short Japanese email and saves it as MIME text: compose OUT.eml
#include <hanamail/Email.h>

#include <cstdio>

static hanamail::XString utf8(const char* text)
{
    hanamail::XString x;
    x.setFromUtf8(text);
    return x;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.eml\n", argv[0]);
        return 2;
    }
    hanamail::ClsEmail email;
    email.AddHeaderField(utf8("Subject"), utf8("来週の打ち合わせについて"));
    email.SetPlainBody(utf8("田中様\r\n\r\n来週の打ち合わせは火曜日の十時からです。\r\n"));
    if (email.AddTo(utf8("田中 花子"), utf8("hanako.tanaka@example.jp")) &&
        email.AddStringAttachment(utf8("agenda.txt"), utf8("1. 予算\r\n2. 日程\r\n")) && email.SaveEml(utf8(argv[1])))
        return 0;
    hanamail::StringBuffer errorInfo;
    email.getErrorTextUtf8(errorInfo, false);  // the activity log of the failed operation
    std::fputs(errorInfo.getString(), stderr);
    return 1;
}
