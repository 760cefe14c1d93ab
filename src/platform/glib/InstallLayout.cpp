#include "platform/glib/InstallLayout.h"

#include <glib.h>
#include <utility>

#include "base/GRef.h"

namespace penwick::platform {

InstallLayout::InstallLayout(std::string executablePath, Locations locations)
    : m_executablePath(std::move(executablePath))
    , m_locations(std::move(locations))
{
    GUnique<char> dir(g_path_get_dirname(m_executablePath.c_str()));
    m_executableDir = dir.get();
}

std::string InstallLayout::currentExecutable()
{
    GUnique<char> exe(g_file_read_link("/proc/self/exe", nullptr));
    return exe ? std::string(exe.get()) : std::string();
}

std::string InstallLayout::resourcePath() const
{
    return pick(m_locations.dataDir, m_locations.buildResourceDir);
}

std::string InstallLayout::webExtensionDirectory(const char* overrideDir) const
{
    if (overrideDir && *overrideDir)
        return overrideDir;
    return pick(m_locations.webExtensionDir, m_locations.buildWebExtensionDir);
}

std::string InstallLayout::documentationDirectory() const { return pick(m_locations.docDir, m_locations.buildDocDir); }

std::string InstallLayout::localeDirectory() const
{
    return pick(m_locations.dataDir + "/locale", m_locations.buildDir.empty() ? "" : m_locations.buildDir + "/locale");
}

// An install tree beside the executable wins, so that a tree staged inside the build folder
// still runs from itself. Without either, the installed location is named so that a
// complaint about it points where the files belong.
std::string InstallLayout::pick(const std::string& relative, const std::string& inBuildTreePath) const
{
    GUnique<char> installed(g_canonicalize_filename(relative.c_str(), m_executableDir.c_str()));
    if (g_file_test(installed.get(), G_FILE_TEST_IS_DIR) || !inBuildTree() || inBuildTreePath.empty())
        return installed.get();
    return inBuildTreePath;
}

bool InstallLayout::inBuildTree() const
{
    if (m_locations.buildDir.empty())
        return false;
    std::string prefix = m_locations.buildDir;
    if (prefix.back() != '/')
        prefix += '/';
    return m_executablePath.rfind(prefix, 0) == 0;
}

} // namespace penwick::platform
