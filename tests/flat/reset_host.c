/* A plain C host of the flat functions (it leaves SIGPIPE as it is) that
   sends a large email to 127.0.0.1:25, where the test's server resets the
   connection in the middle of DATA. The send must fail and the host go on:
   it prints "send: 0" and "still running" and exits 0. */
#include <hanamail/hanamail.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void)
{
    const size_t size = 16u << 20;
    size_t i;
    char* body = malloc(size + 1);
    HanamailBool sent;

    if (!body) return 1;
    for (i = 0; i < size; ++i) body[i] = (i % 64 == 63) ? '\n' : (char)('a' + i % 26);
    body[size] = '\0';

    SetSmtpHost("127.0.0.1");
    AddHeaderField("From", "a@example.com");
    AddRecipient("To", "", "b@example.com");
    SetPlainTextBody(body);
    free(body);
    sent = SendMail();
    printf("send: %d\n", sent);
    printf("still running\n");
    fflush(stdout);
    return sent == 0 ? 0 : 1;
}
