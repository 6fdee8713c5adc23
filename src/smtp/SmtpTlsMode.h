#pragma once

namespace hanamail {

// How an SMTP session protects itself. None is the plain dialogue as it always
// was; StartTls requires the upgrade (RFC 3207); Auto takes it when the server
// offers it; Implicit runs TLS from the first byte (RFC 8314, port 465).
enum class SmtpTlsMode { None, StartTls, Auto, Implicit };

}  // namespace hanamail
