#pragma once
// What the capture tests share: fetches answered from memory, temporary page
// folders, and the captured MIME read back by our own reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "web/MhtmlFetcher.h"

namespace capturetest {

namespace fs = std::filesystem;

struct Answer {
    int status = 200;
    std::string body;
    std::string charset;
    std::string type;
    std::string finalUrl;
};

// Serves canned answers by URL; anything else is a 404.
class MemoryFetcher : public hanamail::MhtmlFetcher {
public:
    std::map<std::string, Answer> answers;
    std::vector<std::string> fetched;
    std::vector<std::string> logins;  // "login:password" given with each fetch, "" for none

    void add(const std::string& url, const std::string& body, const std::string& type = "",
             const std::string& charset = "")
    {
        Answer a;
        a.body = body;
        a.type = type;
        a.charset = charset;
        answers[url] = a;
    }

    bool fetch(const char* url, const char* login, const char* password, hanamail::DataBuffer& body,
               hanamail::MhtmlFetched& got, hanamail::LogBase&) override
    {
        fetched.push_back(url);
        logins.push_back(login && password ? std::string(login) + ":" + password : std::string());
        body.clear();
        auto it = answers.find(url);
        if (it == answers.end()) {
            got.status = 404;
            got.finalUrl = url;
            (void)body.append("not here", 8);
            return true;
        }
        got.status = it->second.status;
        got.charset = it->second.charset.c_str();
        got.contentType = it->second.type.c_str();
        got.finalUrl = it->second.finalUrl.empty() ? url : it->second.finalUrl.c_str();
        (void)body.append(it->second.body.data(), static_cast<uint32_t>(it->second.body.size()));
        return true;
    }

    int count(const std::string& url) const
    {
        int n = 0;
        for (const std::string& f : fetched) n += f == url;
        return n;
    }
};

// The captured MIME text read back.
class Captured {
public:
    explicit Captured(const hanamail::StringBuffer& mime) : text(mime.getString())
    {
        root.ParseMime(text.data(), static_cast<uint32_t>(text.size()));
    }

    int parts() const { return root.GetSubPartCount(); }
    hanamail::MimeMessage2* part(int i) const { return root.GetSubPart(i); }
    std::string body(int i) const
    {
        const hanamail::DataBuffer& b = part(i)->body();
        return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
    }
    std::string html() const { return body(0); }
    std::string field(int i, const char* name) const
    {
        hanamail::StringBuffer v;
        (void)part(i)->header().GetFieldValue(name, v);
        return v.getString();
    }
    // The part whose Content-ID is cid (angle brackets or not), or -1.
    int byCid(const std::string& cid) const
    {
        for (int i = 0; i < parts(); ++i) {
            std::string id = field(i, "Content-ID");
            if (id == "<" + cid + ">" || id == cid) return i;
        }
        return -1;
    }
    // Every "cid:" reference of the HTML names a part.
    bool cidsResolve(const std::string& html) const
    {
        size_t at = 0;
        while ((at = html.find("cid:", at)) != std::string::npos) {
            at += 4;
            size_t end = at;
            while (end < html.size() && html[end] != '"' && html[end] != '\'' && html[end] != ')' && html[end] != '&')
                ++end;
            if (byCid(html.substr(at, end - at)) < 0) return false;
        }
        return true;
    }
    static int countOf(const std::string& s, const std::string& needle)
    {
        int n = 0;
        for (size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1)) ++n;
        return n;
    }

    std::string text;
    hanamail::MimeMessage2 root;
};

// A fresh folder for file pages, removed afterwards.
class PageFolder {
public:
    PageFolder()
    {
        std::random_device rd;
        dir = fs::temp_directory_path() / ("hanamail-capture-" + std::to_string(rd()));
        fs::create_directories(dir);
    }
    ~PageFolder()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string write(const std::string& name, const std::string& data) const
    {
        // UTF-8 names, as the capture gives them to the file layer.
        const fs::path p = dir / fs::path(std::u8string(name.begin(), name.end()));
        fs::create_directories(p.parent_path());
        std::ofstream f(p, std::ios::binary);
        f.write(data.data(), static_cast<std::streamsize>(data.size()));
        return p.string();
    }

    fs::path dir;
};

inline std::string logOf(hanamail::Logger& log)
{
    hanamail::StringBuffer sb;
    log.getText(sb);
    return sb.getString();
}

inline const std::string kGif = std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13) + std::string("\x00\x00\x00;", 4);

}  // namespace capturetest
