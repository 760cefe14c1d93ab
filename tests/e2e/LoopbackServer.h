#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace penwick::e2e {

// A tiny HTTP server on 127.0.0.1 (an ephemeral port, loopback only) that answers every GET
// request with the one HTML page it was given, or with a redirection. One request per connection.
class LoopbackServer {
public:
    // A whole answer, status line and headers included.
    struct Response {
        std::string bytes;
    };
    explicit LoopbackServer(const std::string& html)
        : LoopbackServer(Response { "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
            + std::to_string(html.size()) + "\r\nConnection: close\r\n\r\n" + html })
    {
    }
    struct Redirect {
        std::string location;
    };
    // Answers 302 Found to `to.location`.
    explicit LoopbackServer(const Redirect& to)
        : LoopbackServer(Response { "HTTP/1.1 302 Found\r\nLocation: " + to.location + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n" })
    {
    }
    explicit LoopbackServer(Response response) : m_response(std::move(response.bytes))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_fd, 16) != 0
            || getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        m_stopping = true;
        shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return m_port; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    void serve()
    {
        const std::string response = m_response;
        for (int client; !m_stopping && (client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; close(client)) {
            std::string request;
            char buffer[4096];
            for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && (n = read(client, buffer, sizeof buffer)) > 0;)
                request.append(buffer, static_cast<size_t>(n));
            // A blocking send of a small page writes it whole.
            (void)send(client, response.data(), response.size(), MSG_NOSIGNAL);
        }
    }

    std::string m_response;
    int m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

} // namespace penwick::e2e
