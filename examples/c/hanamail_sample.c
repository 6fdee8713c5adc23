/* Composes an email through Hanamail's flat C functions and saves it.

     hanamail_sample OUT.eml

   The email has a Japanese subject, one recipient, a plain-text body and a
   file attachment (agenda.txt, written into a temporary folder first). Exit
   status 0 only when every step succeeded. Strings are UTF-8 on Linux. */
#define _XOPEN_SOURCE 700 /* mkdtemp */
#include <hanamail/hanamail.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    char dir[] = "/tmp/hanamail_sample.XXXXXX";
    char attachment[sizeof dir + sizeof "/agenda.txt"];
    FILE* f;
    int ok;

    if (argc != 2) {
        fprintf(stderr, "usage: hanamail_sample OUT.eml\n");
        return 2;
    }
    if (!mkdtemp(dir)) {
        perror("mkdtemp");
        return 1;
    }
    strcpy(attachment, dir);
    strcat(attachment, "/agenda.txt");
    f = fopen(attachment, "wb");
    if (!f) {
        perror(attachment);
        return 1;
    }
    /* "1. 予算", "2. 日程" */
    fputs("1. \xe4\xba\x88\xe7\xae\x97\r\n2. \xe6\x97\xa5\xe7\xa8\x8b\r\n", f);
    fclose(f);

    /* "来週の打ち合わせについて" */
    AddHeaderField("Subject",
                   "\xe6\x9d\xa5\xe9\x80\xb1\xe3\x81\xae\xe6\x89\x93\xe3\x81\xa1\xe5\x90\x88\xe3\x82\x8f\xe3\x81\x9b"
                   "\xe3\x81\xab\xe3\x81\xa4\xe3\x81\x84\xe3\x81\xa6");
    /* "田中 花子" */
    AddRecipient("To", "\xe7\x94\xb0\xe4\xb8\xad \xe8\x8a\xb1\xe5\xad\x90", "hanako.tanaka@example.jp");
    /* "田中様", an empty line, "来週の打ち合わせは火曜日の十時からです。" */
    SetPlainTextBody("\xe7\x94\xb0\xe4\xb8\xad\xe6\xa7\x98\n\n"
                     "\xe6\x9d\xa5\xe9\x80\xb1\xe3\x81\xae\xe6\x89\x93\xe3\x81\xa1\xe5\x90\x88\xe3\x82\x8f\xe3\x81\x9b"
                     "\xe3\x81\xaf\xe7\x81\xab\xe6\x9b\x9c\xe6\x97\xa5\xe3\x81\xae\xe5\x8d\x81\xe6\x99\x82\xe3\x81\x8b"
                     "\xe3\x82\x89\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82\n");
    ok = AddFileAttachment(attachment) == 1;
    remove(attachment);
    rmdir(dir);
    ok = ok && ExportToMimeFile(argv[1]) == 1;
    if (!ok) {
        /* What the failed step logged, beside the email where that can be written. */
        char* log = malloc(strlen(argv[1]) + sizeof ".log.xml");
        if (log) {
            strcpy(log, argv[1]);
            strcat(log, ".log.xml");
        }
        if (log && SaveErrorInfo(log) == 1)
            fprintf(stderr, "hanamail_sample: failed; the activity log is in %s\n", log);
        else
            fprintf(stderr, "hanamail_sample: failed\n");
        free(log);
        return 1;
    }
    return 0;
}
