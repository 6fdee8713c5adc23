// Mail transactions (RFC 5321 section 3.3): MAIL FROM, RCPT TO, DATA.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/FileSys.h"
#include "foundation/LogBase.h"
#include "mime/Email2.h"
#include "mime/Rfc822Address.h"
#include "smtp/ProgressMonitor.h"
#include "smtp/SmtpConnImpl.h"
#include "smtp/SmtpDataEncoder.h"

namespace hanamail {

namespace {

// Progress credits of the fixed steps of a transaction.
constexpr uint32_t kStepCredit = 50;
// The message goes out in pieces of this size after encoding: small enough
// that the encoder's writes and the kernel's copy both stay in the L2 cache.
constexpr uint32_t kDataPieceBytes = 1u << 18;
// The first piece is smaller and each next one twice the last: the server
// has nothing to read until a piece is encoded, and the encoder, faster
// than any server reads, stays ahead once it has one piece out.
constexpr uint32_t kFirstDataPieceBytes = 1u << 14;

void step(ProgressMonitor* pm, uint32_t amount)
{
    if (pm == nullptr) return;
    bool abort = false;
    pm->step(amount, abort);
}

// An address that can stand in MAIL FROM:<...> or RCPT TO:<...>: no control
// byte, space or DEL, which could end the command or start another.
bool isEnvelopeAddress(const std::string& a)
{
    for (unsigned char c : a)
        if (c < 0x21 || c == 0x7F) return false;
    return !a.empty();
}

// The addresses of the file a distribution list names: one a line, those
// with "@", in file order, duplicates kept.
bool readDistributionFile(const char* path, std::vector<std::string>& out, LogBase& log)
{
    StringBuffer text;
    if (!FileSys::loadFile(path, text, &log)) return false;
    text.replaceAll("\r\n", "\n");
    text.trim2();
    while (text.replaceAll("\n\n", "\n") > 0) {
    }
    const char* s = text.getString();
    const char* end = s + text.getSize();
    while (s < end) {
        const char* nl = static_cast<const char*>(std::memchr(s, '\n', static_cast<size_t>(end - s)));
        if (!nl) nl = end;
        StringBuffer line(s, static_cast<int32_t>(nl - s), 0);
        line.trim2();
        if (!line.isEmpty() && line.contains("@")) out.emplace_back(line.getString());
        s = nl + 1;
    }
    return true;
}

}  // namespace

bool SmtpConnImpl::sendRecipients(Email2& email, LogBase& log, ProgressMonitor* pm, int& accepted, int& attempted)
{
    LogContextExit ctx(log, "recipients", false);
    static const struct {
        Email2::Recipients kind;
        const char* key;
        const char* failure;
    } kLists[] = {
        {Email2::Recipients::To, "to", "Failed when sending RCPT TO:<"},
        {Email2::Recipients::Cc, "cc", "Failed when sending cc RCPT TO:<"},
        {Email2::Recipients::Bcc, "bcc", "Failed when sending bcc RCPT TO:<"},
    };
    for (const auto& list : kLists) {
        const int count = email.GetRecipientCount(list.kind);
        for (int i = 0; i < count; ++i) {
            StringBuffer address;
            (void)email.GetRecipientAddress(list.kind, i, address);
            if (!address.isEmpty()) {
                ++attempted;
                const std::string a = address.getString();
                if (isEnvelopeAddress(a) && sendCommand("RCPT TO:<%s>\r\n", a.c_str(), 250, log, 251)) {
                    log.logData(list.key, a.c_str());
                    ++accepted;
                } else {
                    log.logError((std::string(list.failure) + a + ">").c_str());
                    log.logData("bad_address", a.c_str());
                    m_refused.push_back(a);
                }
            }
            step(pm, kStepCredit);
        }
    }
    return accepted > 0;
}

// The text goes out as it is encoded, so the first bytes are on the wire
// without a pass over the whole message first; its encoded size is counted
// on the way and logged once known (a failed send scans for it then).
bool SmtpConnImpl::sendMessageText(const unsigned char* text, uint32_t n, LogBase& log, ProgressMonitor* pm)
{
    const auto logSize = [&log](uint64_t size) {
        log.logDataLong("email_size", size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(size));
    };
    if (n == 0) {
        logSize(0);
        return true;
    }
    // Every byte may become two (a bare line end); beyond that, pieces.
    const uint64_t worst = uint64_t(n) * 2 + SmtpDataEncoder::kMinRoom;
    const uint32_t room = worst < kDataPieceBytes ? static_cast<uint32_t>(worst) : kDataPieceBytes;
    std::unique_ptr<unsigned char[]> piece(new (std::nothrow) unsigned char[room]);
    if (!piece) {
        log.logError("Out of memory");
        return false;
    }
    SmtpDataEncoder encoder;
    uint32_t pos = 0;
    uint64_t sent = 0;
    bool first = true;
    uint32_t size = room < kFirstDataPieceBytes ? room : kFirstDataPieceBytes;
    while (pos < n) {
        const uint32_t k = encoder.encode(text, n, pos, piece.get(), size);
        size = size > room / 2 ? room : size * 2;
        // Of the message the transcript keeps the start only.
        if (first) appendTranscript(piece.get(), k);
        first = false;
        if (!m_socket.sendBytes(piece.get(), k, log, pm)) {
            logSize(SmtpDataEncoder::encodedSize(text, n));
            return false;
        }
        sent += k;
    }
    logSize(sent);
    return true;
}

bool SmtpConnImpl::sendTransaction(Email2& email, const StringBuffer* mimeText, LogBase& log, ProgressMonitor* pm,
                                   int& accepted, int& attempted, bool& connectionFailed)
{
    StringBuffer reversePath;
    email.GetReturnPath(reversePath);
    reversePath.removeChar('<');
    reversePath.removeChar('>');
    if (reversePath.isEmpty()) {
        log.logError("Invalid email object, no return address");
        connectionFailed = true;
        return false;
    }
    StringBuffer subject;
    (void)email.GetSubject(subject);
    log.logData("subject", subject.getString());
    log.logData("from", reversePath.getString());

    // The text is made before the transaction opens: one that cannot be made
    // must not leave the server in DATA, where QUIT would be taken for
    // message text and its reply awaited until the read time-out.
    StringBuffer written(mimeText ? 0 : 50000);
    if (!mimeText) {
        if (!email.WriteMimeText(written, "TBX-")) {
            log.logError(written.failure() == BufferFailure::OutOfMemory ? "Out of memory" : "Email too large");
            log.logError("Failed when sending email body");
            connectionFailed = true;
            return false;
        }
        mimeText = &written;
    }

    if (m_transactionOpen) {
        // The last transaction stopped after MAIL FROM: a new one may not begin before RSET.
        if (!sendCommand("RSET\r\n", nullptr, 250, log)) {
            logTranscript(log);
            connectionFailed = true;
            return false;
        }
        m_transactionOpen = false;
    }
    const std::string from = reversePath.getString();
    if (!isEnvelopeAddress(from) || !sendCommand("MAIL FROM:<%s>\r\n", from.c_str(), 250, log)) {
        log.logError((std::string("Failed when sending MAIL FROM:<") + from + ">").c_str());
        logTranscript(log);
        connectionFailed = true;
        return false;
    }
    m_transactionOpen = true;
    step(pm, kStepCredit);

    const int acceptedBefore = accepted, attemptedBefore = attempted;
    int ok = 0, tried = 0;
    if (!sendRecipients(email, log, pm, ok, tried)) {
        attempted = attemptedBefore + tried;
        connectionFailed = false;
        return false;
    }
    attempted = attemptedBefore + tried;
    if (ok < tried) {
        char warning[160];
        std::snprintf(warning, sizeof warning,
                      "Warning: failed to send to %d recipient(s), continuing to send to %d recipient(s)", tried - ok,
                      ok);
        log.logError(warning);
    }
    const auto brokenAfterData = [&](const char* line) {
        log.logError(line);
        logTranscript(log);
        connectionFailed = true;
        accepted = acceptedBefore;
        return false;
    };
    if (!sendCommand("DATA\r\n", nullptr, 354, log)) return brokenAfterData("Failed when sending DATA command");
    step(pm, kStepCredit);

    if (!sendMessageText(reinterpret_cast<const unsigned char*>(mimeText->getString()),
                         static_cast<uint32_t>(mimeText->getSize()), log, pm))
        return brokenAfterData("Failed when sending email body");
    if (!sendCommand("\r\n.\r\n", nullptr, 250, log)) return brokenAfterData("Failed when sending body end marker");
    m_transactionOpen = false;
    step(pm, kStepCredit);
    connectionFailed = false;
    accepted = acceptedBefore + ok;
    return ok == tried;
}

bool SmtpConnImpl::sendEmail(Email2& email, const StringBuffer* mimeText, LogBase& log, ProgressMonitor* pm,
                             int& accepted, int& attempted, bool& connectionFailed, bool onePerAddress,
                             bool newMessageId)
{
    accepted = 0;
    attempted = 0;
    connectionFailed = false;
    if (newMessageId) email.NewMessageId();

    std::vector<std::string> list;
    StringBuffer listPath;
    if (email.GetHeaderField("TBX-FileDistList", listPath) && !listPath.isEmpty()) {
        if (!readDistributionFile(listPath.getString(), list, log)) {
            log.logError("Failed to read the distribution list");
            return false;
        }
    }

    bool ok = true;
    if (list.empty() || !onePerAddress) {
        ok = sendTransaction(email, mimeText, log, pm, accepted, attempted, connectionFailed);
    } else {
        email.ClearTo();
        email.ClearCc();
        email.ClearBcc();
        email.RemoveHeaderField("To");
        email.RemoveHeaderField("Cc");
        for (const std::string& address : list) {
            if (newMessageId) email.NewMessageId();
            // An address the email model refuses (no usable addr-spec, a
            // control byte) is never sent; it counts as refused.
            if (!email.AddTo("", address.c_str())) {
                ++attempted;
                log.logError((std::string("Failed when sending RCPT TO:<") + address + ">").c_str());
                log.logData("bad_address", address.c_str());
                m_refused.push_back(address);
                ok = false;
                continue;
            }
            if (!sendTransaction(email, mimeText, log, pm, accepted, attempted, connectionFailed)) ok = false;
            email.ClearTo();
            if (connectionFailed) return false;
        }
    }
    if (!ok || accepted < attempted) return false;
    char line[64];
    std::snprintf(line, sizeof line, "Mail sent to %d recipient%s", accepted, accepted >= 2 ? "s" : "");
    log.logInfo(line);
    return true;
}

}  // namespace hanamail
