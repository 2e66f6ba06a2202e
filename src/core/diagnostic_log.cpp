// SPDX-License-Identifier: MIT
#include "core/diagnostic_log.h"

#include <cstdarg>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "core/url_password_mask.h"
#include "platform/file_util.h"

namespace bw::core {

DiagnosticLog &DiagnosticLog::instance()
{
    static DiagnosticLog log;
    return log;
}

DiagnosticLog::~DiagnosticLog()
{
    close();
}

void DiagnosticLog::open(const std::string &path, int threshold)
{
    std::lock_guard lock{m_mutex};
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_threshold = threshold;
    m_path.clear();
    if (path.empty())
        return;
    m_path = platform::absolutePath(path).string();
    // The log can hold user names and server replies: readable by its owner alone.
    int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    m_file = ::fdopen(fd, "ab");
    if (!m_file)
        ::close(fd);
}

void DiagnosticLog::write(const std::string &text, int level)
{
    std::lock_guard lock{m_mutex};
    if (!m_file || level > m_threshold)
        return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string line = linePrefix(local, level);
    line += maskPasswordsInText(text); // the file outlives the session and may be sent along with a report
    line += "\r\n";
    (void)std::fwrite(line.data(), 1, line.size(), m_file);
    (void)std::fflush(m_file);
}

void DiagnosticLog::writeFormatted(const char *format, ...)
{
    std::vector<char> buffer(std::char_traits<char>::length(format) + 1024);
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    write(buffer.data(), 3);
}

void DiagnosticLog::close()
{
    std::lock_guard lock{m_mutex};
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_path.clear();
}

bool DiagnosticLog::isOpen() const
{
    std::lock_guard lock{m_mutex};
    return m_file != nullptr;
}

std::string DiagnosticLog::path() const
{
    std::lock_guard lock{m_mutex};
    return m_path;
}

const char *DiagnosticLog::disconnectReasonText(int code)
{
    switch (code) {
    case 2:
        return "Inactivity Time Exceeded";
    case 3:
        return "Browse Time Exceeded";
    case 4:
        return "Transfer speed lower than limit for this connection!";
    case 5:
        return "Transfer speed higher than limit for this connection!";
    case 6:
        return "You have been kicked!";
    case 7:
        return "Site is going down!";
    case 8:
        return "Time limit exceeded for this connection.";
    case 9:
        return "Failed file read.";
    case 10:
        return "Failed file write.";
    case 11:
        return "Failed socket read.";
    case 12:
        return "Failed socket write.";
    case 13:
        return "Abort command received.";
    case 14:
        return "Too slow for this directory";
    case 15:
        return "Goodbye.  Control connection closed.";
    default:
        return "Unknown";
    }
}

std::string DiagnosticLog::linePrefix(const std::tm &local, int level)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%02d/%02d/%04d %02d:%02d:%02d {%d} - ", local.tm_mon + 1,
        local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, level);
    return prefix;
}

} // namespace bw::core
