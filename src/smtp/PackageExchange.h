#pragma once

namespace hanamail {

class DataBuffer;
class LogBase;

// The connection side of a security-package login: carries each outbound
// package to the server and brings back its answer.
class PackageExchange {
public:
    virtual ~PackageExchange() = default;
    // Sends the package and receives the server's next package.
    virtual bool exchangePackage(const DataBuffer& package, DataBuffer& received, LogBase& log) = 0;
    // Sends the last package and reads whether the server accepts the login.
    virtual bool sendFinal(const DataBuffer& package, LogBase& log) = 0;
};

}  // namespace hanamail
