#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace penwick::e2e {

// A tiny HTTP server on 127.0.0.1 (an ephemeral port, loopback only) that answers GET requests for
// the paths it was given with their HTML, and 404 otherwise. One request per connection.
class LoopbackServer {
public:
    explicit LoopbackServer(std::map<std::string, std::string> pages) : m_pages(std::move(pages))
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
        while (!m_stopping) {
            int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(n));
            }
            auto start = request.find(' ') + 1;
            std::string path = request.substr(start, request.find(' ', start) - start);
            auto it = m_pages.find(path.substr(0, path.find('?')));
            std::string body = it == m_pages.end() ? "not found" : it->second;
            std::string response = std::string(it == m_pages.end() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK")
                + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size())
                + "\r\nConnection: close\r\n\r\n" + body;
            for (size_t sent = 0; sent < response.size();) {
                ssize_t n = write(client, response.data() + sent, response.size() - sent);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            close(client);
        }
    }

    std::map<std::string, std::string> m_pages;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

} // namespace penwick::e2e
