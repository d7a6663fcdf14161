#include "mComponentRegistry.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The registry holds a handful of lines; anything far larger is not ours to rewrite.
constexpr std::uintmax_t MaxRegistrySize = 64 * 1024;

using Lines = std::vector<std::string>;

// The file's lines; an empty list when it does not exist, nothing when it cannot be read.
std::optional<Lines> ReadLines(const fs::path &file)
{
    std::error_code error;
    if (!fs::exists(file, error))
        return error ? std::nullopt : std::optional<Lines>(Lines{});
    const std::uintmax_t size = fs::file_size(file, error);
    if (error || size > MaxRegistrySize)
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    Lines lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (in.bad())
        return std::nullopt;
    return lines;
}

// Writes beside the file and renames over it, so a reader never sees half a registry.
bool WriteLines(const fs::path &file, const Lines &lines)
{
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    if (error)
        return false;
    fs::path temporary = file;
    temporary += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string &line : lines)
            out << line << '\n';
        out.flush();
        if (!out) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, file, error);
    if (error)
        fs::remove(temporary, error);
    return !error;
}

std::string KeyOf(const VorskGuid &clsid)
{
    return GuidText(clsid) + '=';
}

} // namespace

fs::path ComponentRegistryFile()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return fs::path(config) / "Vorsk" / "components.conf";
    const char *home = std::getenv("HOME");
    if (home && *home == '/')
        return fs::path(home) / ".config" / "Vorsk" / "components.conf";
    return {};
}

std::string GuidText(const VorskGuid &guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                  guid.Data4[7]);
    return text;
}

std::string LookupComponent(const fs::path &file, const VorskGuid &clsid)
{
    const std::optional<Lines> lines = ReadLines(file);
    if (!lines)
        return {};
    const std::string key = KeyOf(clsid);
    for (const std::string &line : *lines) {
        if (line.starts_with(key))
            return line.substr(key.size());
    }
    return {};
}

bool RegisterComponent(const fs::path &file, const VorskGuid &clsid,
                       const std::string &libraryPath)
{
    if (file.empty() || !libraryPath.starts_with('/')
        || libraryPath.find_first_of("\r\n") != std::string::npos)
        return false;
    std::optional<Lines> lines = ReadLines(file);
    if (!lines)
        return false;
    const std::string key = KeyOf(clsid);
    std::erase_if(*lines, [&](const std::string &line) { return line.starts_with(key); });
    lines->push_back(key + libraryPath);
    return WriteLines(file, *lines);
}

bool UnregisterComponent(const fs::path &file, const VorskGuid &clsid,
                         const std::string &libraryPath)
{
    if (file.empty())
        return false;
    std::optional<Lines> lines = ReadLines(file);
    if (!lines)
        return false;
    const std::string entry = KeyOf(clsid) + libraryPath;
    if (std::erase(*lines, entry) == 0)
        return true;
    return WriteLines(file, *lines);
}
