#include "platform/gtk/GtkChannelServer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "channel/ChannelProtocol.h"

namespace penwick::platform {

using channel::ChannelConnection;
using channel::FrameKind;

namespace {

// 128 bits from the kernel's cryptographic source, as hex.
Result<std::string> randomToken()
{
    unsigned char bytes[16];
    std::size_t done = 0;
    while (done < sizeof bytes) {
        ssize_t n = getrandom(bytes + done, sizeof bytes - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Error { errno, std::strerror(errno) };
        done += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

// Connections that may wait to introduce themselves at once; a further one pushes out the oldest
// (a web process introduces itself as soon as it connects, so the oldest is the likeliest idler).
constexpr std::size_t kMaxStrangers = 16;
// How long the listener rests when accepting fails for want of descriptors or memory.
constexpr unsigned kAcceptRetryMs = 250;
// A crowd of strangers must not flood the log: this many refusals a second get a line each.
constexpr unsigned kRefusalsLoggedPerSecond = 10;

constexpr std::string_view kFolderPrefix = "penwick-";

// The pid in a channel folder's name "penwick-<pid>-XXXXXX", or 0 when the name is not one.
long folderOwner(std::string_view name)
{
    if (name.substr(0, kFolderPrefix.size()) != kFolderPrefix)
        return 0;
    name.remove_prefix(kFolderPrefix.size());
    long pid = 0;
    std::size_t digits = 0;
    for (; digits < name.size() && digits < 10 && name[digits] >= '0' && name[digits] <= '9'; ++digits)
        pid = pid * 10 + (name[digits] - '0');
    if (digits == 0 || name.size() != digits + 7 || name[digits] != '-')
        return 0;
    return pid;
}

// True when something still listens on the socket at `path` (a live host in another pid
// namespace, or a pid that was reused).
bool someoneListens(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return true;
    bool listening = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
    ::close(fd);
    return listening;
}

// Removes what the open folder `dir` holds, never through a link, at most `depth` folders down.
void removeContents(int dir, int depth)
{
    DIR* listing = fdopendir(dup(dir));
    while (dirent* item = listing ? readdir(listing) : nullptr) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0 || unlinkat(dir, item->d_name, 0) == 0
            || errno != EISDIR || depth == 0)
            continue;
        int inner = openat(dir, item->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (inner < 0)
            continue;
        removeContents(inner, depth - 1);
        ::close(inner);
        (void)unlinkat(dir, item->d_name, AT_REMOVEDIR);
    }
    if (listing)
        closedir(listing);
}

// How deep the engine's temporary files lie in a channel folder: its folder, and one of their own.
constexpr int kFolderDepth = 2;

// Removes the channel folders that hosts of this user left behind when they were killed: only
// real folders (never through a symlink) of this user, named after a process that is gone, whose
// socket nobody serves, with what they hold (the engine's temporary files).
void removeStaleFolders(const std::string& tmpDir)
{
    int tmp = open(tmpDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmp < 0)
        return;
    DIR* listing = fdopendir(dup(tmp));
    while (dirent* entry = listing ? readdir(listing) : nullptr) {
        long pid = folderOwner(entry->d_name);
        struct stat info;
        if (pid <= 0 || fstatat(tmp, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)
            || info.st_uid != getuid() || !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            || someoneListens(tmpDir + "/" + entry->d_name + "/bridge"))
            continue;
        int folder = openat(tmp, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0)
            continue;
        removeContents(folder, kFolderDepth);
        ::close(folder);
        if (unlinkat(tmp, entry->d_name, AT_REMOVEDIR) == 0)
            log::message(format("removed the page channel folder %@ of host %@, which is gone", entry->d_name, pid));
    }
    if (listing)
        closedir(listing);
    ::close(tmp);
}

} // namespace

GtkChannelServer::~GtkChannelServer() { shutdown(); }

void GtkChannelServer::setMaxPayloadForTesting(std::size_t limit)
{
    m_maxPayload = std::clamp<std::size_t>(limit, 1024, channel::kMaxPayload);
}

bool GtkChannelServer::listen()
{
    if (m_listenFd >= 0)
        return true;
    if (m_failed)
        return false;
    m_failed = true;
    // The pid in the name lets a later host tell a killed host's folder from a live one's.
    std::string folderName = std::string(kFolderPrefix) + std::to_string(getpid()) + "-XXXXXX";
    // A socket's path is short (108 bytes): where the temporary folder's path leaves no room for it,
    // or the folder cannot be made there (missing, read-only, full), it goes to the runtime folder or
    // /tmp, rather than the pages going without the bridge.
    std::string refused;
    auto refuse = [&](const std::string& parent, const std::string& why) {
        refused += format("%@%@: %@", refused.empty() ? "" : "; ", parent, why);
    };
    for (const std::string& parent : { std::string(g_get_tmp_dir()), std::string(g_get_user_runtime_dir()), std::string("/tmp") }) {
        std::string folder = parent + "/" + folderName;
        if (folder.size() + sizeof("/bridge") > sizeof(sockaddr_un::sun_path)) {
            refuse(parent, "its path is too long");
            continue;
        }
        removeStaleFolders(parent);
        if (mkdtemp(folder.data())) {
            m_directory = folder;
            if (g_mkdir((folder + "/tmp").c_str(), 0700) == 0)
                m_engineTemporaryFolder = folder + "/tmp";
            break;
        }
        refuse(parent, std::strerror(errno));
    }
    if (m_directory.empty()) {
        log::warning(format("cannot create the folder for the page channel (%@); pages get no bridge", refused));
        return false;
    }
    if (!refused.empty())
        log::message(format("the page channel's folder is %@ (%@)", m_directory, refused));
    m_socketPath = m_directory + "/bridge";
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof address.sun_path) {
        log::warning(format("the page channel's path %@ is too long; pages get no bridge", m_socketPath));
        return false;
    }
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        log::warning(format("cannot open the page channel at %@: %@; pages get no bridge", m_socketPath, std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_listenFd = fd;
    // Only this user can reach the folder; the tokens guard against a stale or foreign peer too.
    watchListener();
    m_failed = false;
    return true;
}

void GtkChannelServer::watchListener()
{
    m_listenWatch = g_unix_fd_add(m_listenFd, G_IO_IN,
        +[](gint, GIOCondition, gpointer data) -> gboolean {
            auto* self = static_cast<GtkChannelServer*>(data);
            if (self->accept())
                return G_SOURCE_CONTINUE;
            self->m_listenWatch = 0;
            return G_SOURCE_REMOVE;
        },
        this);
}

bool GtkChannelServer::attach(WebKitWebContext* context, const std::string& extensionDirectory)
{
    if (!listen())
        return false;
    webkit_web_context_set_web_extensions_directory(context, extensionDirectory.c_str());
    // Each web process gets a token of its own as it starts, so that one process's token (the
    // popup's, a foreign site's) speaks for no page of another (see kPageClaimMessage).
    issueCredential(context);
    m_processStarting = SignalConnection(context,
        g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(+[](WebKitWebContext* context, gpointer data) {
            static_cast<GtkChannelServer*>(data)->issueCredential(context);
        }),
            this));
    // A sandboxed web process must still reach the socket. (Only then: the engine's call reads the
    // home folder and fails when there is none.)
    if (webkit_web_context_get_sandbox_enabled(context))
        webkit_web_context_add_path_to_sandbox(context, m_directory.c_str(), FALSE);
    return true;
}

void GtkChannelServer::issueCredential(WebKitWebContext* context)
{
    auto token = randomToken();
    if (!token) {
        log::warning(format("cannot make a web process's token for the page channel: %@; its pages get no bridge",
            token.error().message));
    }
    // One token for each web process started (32 bytes each).
    std::string credential = token ? std::move(*token) : std::string();
    if (!credential.empty())
        m_credentials.emplace(credential, CredentialUse::Issued);
    webkit_web_context_set_web_extensions_initialization_user_data(context,
        g_variant_new(channel::kInitDataType, channel::kVersion, m_socketPath.c_str(), credential.c_str(),
            static_cast<guint32>(m_maxPayload)));
}

void GtkChannelServer::pageClaimed()
{
    // Copied: answering may close a connection.
    std::vector<std::shared_ptr<ChannelConnection>> connections;
    for (const auto& [raw, connection] : m_connections)
        connections.push_back(connection);
    for (const auto& connection : connections)
        connection->pageClaimed();
}

bool GtkChannelServer::accept()
{
    for (;;) {
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            // Out of descriptors (or memory): the connection stays queued and the listener stays
            // readable, so watching it now would spin. Rest, then try again.
            if (!m_acceptFailing)
                log::warning(format("the page channel cannot accept a connection: %@; it tries again every %@ ms",
                    std::strerror(errno), kAcceptRetryMs));
            m_acceptFailing = true;
            m_acceptRetry.start(kAcceptRetryMs, [this] { watchListener(); });
            return false;
        }
        if (m_acceptFailing)
            log::message("the page channel accepts connections again");
        m_acceptFailing = false;
        std::erase_if(m_strangers, [](const auto& weak) {
            auto c = weak.lock();
            return !c || !c->isOpen() || c->introduced();
        });
        if (m_strangers.size() >= kMaxStrangers) {
            if (auto oldest = m_strangers.front().lock())
                oldest->close(format("%@ connections were already waiting to introduce themselves", kMaxStrangers));
            m_strangers.pop_front();
        }
        // Large answers cross in fewer turns of both processes (the system caps the size).
        int sendBuffer = 4 << 20;
        (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        auto connection = std::make_shared<ChannelConnection>(fd, *this, m_views);
        connection->setMaxPayload(m_maxPayload);
        m_connections[connection.get()] = connection;
        m_strangers.push_back(connection);
        connection->start();
    }
}

void GtkChannelServer::introduce(ChannelConnection& connection, const channel::Hello& hello)
{
    auto credential = hello.token.empty() ? m_credentials.end() : m_credentials.find(hello.token);
    if (credential == m_credentials.end()) {
        connection.close("a process without the host's token tried the page channel");
        return;
    }
    if (credential->second != CredentialUse::Issued) {
        // Once for each process, beside the refusals of strangers: its page may have taken it over.
        if (std::exchange(credential->second, CredentialUse::BroughtAgain) == CredentialUse::Brought)
            log::warning("refused a connection to the page channel with the token of a web process that has one; the "
                         "process's page may have taken it over");
        connection.close({});
        return;
    }
    if (hello.version != channel::kVersion) {
        connection.close(format("the web-process extension speaks channel version %@, the host %@", hello.version, channel::kVersion));
        return;
    }
    credential->second = CredentialUse::Brought;
    connection.setIntroduced(static_cast<long>(hello.pid), hello.token);
}

void GtkChannelServer::connectionClosed(ChannelConnection& connection, const std::string& why)
{
    auto it = m_connections.find(&connection);
    if (it == m_connections.end())
        return;
    // Keep the object alive until its own handler has unwound.
    auto keep = it->second;
    m_connections.erase(it);
    bool hadPages = false;
    for (channel::PageEndpoint* view : m_views)
        hadPages |= view->connectionClosed(connection);
    if (!connection.introduced() && !why.empty()) {
        std::int64_t second = g_get_monotonic_time() / G_USEC_PER_SEC;
        if (second != m_refusalSecond) {
            if (m_refusalsUnlogged)
                log::warning(format("refused %@ more connections to the page channel", m_refusalsUnlogged));
            m_refusalSecond = second;
            m_refusalsLogged = m_refusalsUnlogged = 0;
        }
        if (++m_refusalsLogged <= kRefusalsLoggedPerSecond)
            log::warning(format("refused a connection to the page channel: %@", why));
        else
            ++m_refusalsUnlogged;
    }
    else if (hadPages && !why.empty())
        log::warning(format("page channel of web process %@ closed: %@", connection.pid(), why));
    g_idle_add_full(G_PRIORITY_DEFAULT, +[](gpointer p) -> gboolean {
        delete static_cast<std::shared_ptr<ChannelConnection>*>(p);
        return G_SOURCE_REMOVE;
    }, new std::shared_ptr<ChannelConnection>(std::move(keep)), nullptr);
}

void GtkChannelServer::shutdown()
{
    if (m_listenWatch)
        g_source_remove(m_listenWatch);
    m_acceptRetry.stop();
    m_listenWatch = 0;
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
    if (!m_directory.empty()) {
        int folder = open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder >= 0) {
            removeContents(folder, kFolderDepth);
            ::close(folder);
        }
        g_rmdir(m_directory.c_str());
    }
    m_socketPath.clear();
    m_directory.clear();
    m_engineTemporaryFolder.clear();
}

} // namespace penwick::platform
