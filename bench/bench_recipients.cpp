// Composing an email to many recipients: our AddTo and writer beside Python's
// email package building the same To header, in the same run.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchTimer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "hanamail/Email.h"

using namespace hanamail;

namespace {

XString xs(const std::string& utf8)
{
    XString s;
    s.setFromUtf8(utf8.c_str());
    return s;
}

std::string address(int i)
{
    return "user" + std::to_string(i) + "@example.com";
}

// Python builds the header with the email package and prints its own time,
// the same work measured inside the process. Its compat32 policy is the one
// that scales: policy=default parses the header it is given and takes 20 s
// for 10,000 addresses on this machine.
double pythonSeconds(int n)
{
    const std::string script =
        "import email.message, time\n"
        "n = " +
        std::to_string(n) +
        "\n"
        "t = time.perf_counter()\n"
        "m = email.message.Message()\n"
        "m['To'] = ', '.join('user%d@example.com' % i for i in range(n))\n"
        "m.set_payload('body')\n"
        "data = m.as_bytes()\n"
        "print(time.perf_counter() - t, len(data))\n";
    const std::string cmd = "python3 -c \"$(cat <<'PYEOF'\n" + script + "PYEOF\n)\"";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    double seconds = -1;
    long bytes = 0;
    if (std::fscanf(p, "%lf %ld", &seconds, &bytes) != 2) seconds = -1;
    pclose(p);
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    size_t written = 0;
    int added = 0;
    const double ours = bestSeconds(runs, [&] {
        ClsEmail email;
        added = 0;
        for (int i = 0; i < n; ++i) added += email.AddTo(XString(), xs(address(i))) ? 1 : 0;
        email.SetPlainBody(xs("body"));
        StringBuffer mime;
        if (!email.GetMimeSb(mime)) std::abort();
        written = static_cast<size_t>(mime.getSize());
    });
    if (added != n) {
        std::fprintf(stderr, "only %d of %d recipients were added\n", added, n);
        return 1;
    }
    double python = 1e30;
    for (int i = 0; i < runs; ++i) {
        const double s = pythonSeconds(n);
        if (s >= 0 && s < python) python = s;
    }
    std::printf("%d recipients, AddTo each and the MIME text written (%zu bytes), best of %d\n", n, written, runs);
    std::printf("  hanamail      %8.3f s\n", ours);
    if (python < 1e29)
        std::printf("  python email  %8.3f s   (ours %.2fx as fast)\n", python, python / ours);
    else
        std::printf("  python email  not measured (python3 failed)\n");
    std::printf("target: under 1 s for 100,000: %s\n", ours < 1.0 ? "met" : "MISSED");
    return 0;
}
