// SPDX-License-Identifier: MIT
// The process-wide diagnostic log file: dated, levelled lines from any thread. Lines above the
// threshold are dropped; nothing from the on-screen log panes comes here.
#pragma once

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace bw::core {

class DiagnosticLog
{
public:
    static DiagnosticLog &instance();

    // Opens `path` for appending (created with mode 0600 when missing). A relative path is made
    // absolute now, so a later change of the working directory does not move the log. An empty path
    // leaves the log closed.
    void open(const std::string &path, int threshold);
    void write(const std::string &text, int level);
    // printf-style, written at level 3.
    void writeFormatted(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void close();

    bool isOpen() const;
    std::string path() const;

    static const char *disconnectReasonText(int code);
    // "MM/DD/YYYY hh:mm:ss {level} - " for the given local time.
    static std::string linePrefix(const std::tm &local, int level);

    DiagnosticLog() = default;
    ~DiagnosticLog();
    DiagnosticLog(const DiagnosticLog &) = delete;
    DiagnosticLog &operator=(const DiagnosticLog &) = delete;

private:
    mutable std::mutex m_mutex;
    std::FILE *m_file = nullptr; // guarded by m_mutex
    std::string m_path; // guarded by m_mutex
    int m_threshold = 3; // guarded by m_mutex
};

} // namespace bw::core
