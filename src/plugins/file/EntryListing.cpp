#include "plugins/file/EntryListing.h"

#include <utility>

#include "bridge/WHJSONSerializing.h"

namespace penwick {

EntryListing::EntryListing(EntriesForm form, const std::string& fileSystem, std::string folderFullPath, std::string base, std::size_t count)
    : m_form(form)
    , m_folder(std::move(folderFullPath))
    , m_base(std::move(base))
{
    if (!WHJSONSerializing::appendQuoted(m_quotedFileSystem, fileSystem))
        m_quotedFileSystem = "\"\"";
    if (form == EntriesForm::Objects) {
        m_json.reserve(count * (120 + m_folder.size() + m_base.size()));
        m_json += '[';
        return;
    }
    m_json.reserve(count * 24 + m_folder.size() + m_base.size() + 64);
    m_json += "{\"base\":";
    m_sharedPartsAreText = WHJSONSerializing::appendQuoted(m_json, m_base);
    m_json += ",\"filesystemName\":";
    m_json += m_quotedFileSystem;
    m_json += ",\"folder\":";
    m_sharedPartsAreText = WHJSONSerializing::appendQuoted(m_json, m_folder) && m_sharedPartsAreText;
    m_json += ",\"items\":[";
}

bool EntryListing::add(const std::string& name, EntryKind kind, const std::string& nativeURL)
{
    bool isDirectory = kind == EntryKind::Directory;
    std::string& tail = m_scratch;
    tail.assign(name);
    if (isDirectory)
        tail += '/';
    size_t before = m_json.size();
    if (m_written)
        m_json += ',';
    bool text;
    if (m_form == EntriesForm::Lean) {
        bool derivedURL = nativeURL.size() == m_base.size() + tail.size() && nativeURL.starts_with(m_base) && nativeURL.ends_with(tail);
        if (!isDirectory && derivedURL) {
            text = WHJSONSerializing::appendQuoted(m_json, name);
        } else {
            m_json += '[';
            text = WHJSONSerializing::appendQuoted(m_json, name);
            m_json += isDirectory ? ",1," : ",0,";
            if (derivedURL)
                m_json += "null";
            else
                text = text && WHJSONSerializing::appendQuoted(m_json, nativeURL);
            m_json += ']';
        }
    } else {
        m_json += "{\"filesystemName\":";
        m_json += m_quotedFileSystem;
        m_json += ",\"fullPath\":";
        // The item's full path, made in the scratch text, not a new string per item.
        tail.insert(0, m_folder);
        text = WHJSONSerializing::appendQuoted(m_json, tail);
        m_json += isDirectory ? ",\"isDirectory\":true,\"isFile\":false,\"name\":" : ",\"isDirectory\":false,\"isFile\":true,\"name\":";
        text = text && WHJSONSerializing::appendQuoted(m_json, name);
        m_json += ",\"nativeURL\":";
        text = text && WHJSONSerializing::appendQuoted(m_json, nativeURL);
        m_json += '}';
    }
    if (!text) {
        m_json.resize(before);
        return false;
    }
    ++m_written;
    return true;
}

std::string EntryListing::finish() &&
{
    m_json += m_form == EntriesForm::Lean ? "]}" : "]";
    return std::move(m_json);
}

} // namespace penwick
