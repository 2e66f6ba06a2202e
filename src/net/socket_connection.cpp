// SPDX-License-Identifier: MIT
// The life of a SocketConnection: its stream, the error record and the sticky stop request, close
// and reset. Connecting is in socket_connect.cpp, reads and writes in socket_io.cpp, the transfers in
// socket_jobs.cpp, socket_send_jobs.cpp and socket_receive_job.cpp.
#include "net/socket_connection.h"

#include <cstdio>

#include "core/diagnostic_log.h"
#include "net/log_levels.h"
#include "platform/socket_errors.h"

namespace bw::net {

SocketConnection::SocketConnection(StopSignal *sharedStop)
    : m_stop(sharedStop ? *sharedStop : m_ownStop)
    , m_clock(&platform::SystemClock::instance())
{}

SocketConnection::~SocketConnection()
{
    close();
}

void SocketConnection::setClock(const platform::Clock *clock)
{
    m_clock.store(clock ? clock : &platform::SystemClock::instance());
}

ByteStream &SocketConnection::stream()
{
    if (m_layer)
        return *m_layer;
    return m_tcp;
}

void SocketConnection::setStreamLayer(std::unique_ptr<ByteStream> layer)
{
    m_layer = std::move(layer);
    m_endConfirmed = false; // a close of the new stream has yet to come
}

void SocketConnection::dropSocket()
{
    if (m_layer) {
        m_layer->close();
        m_layer.reset();
    }
    m_tcp.close();
    m_state.store(SocketState::None);
}

void SocketConnection::reset()
{
    dropSocket();
    clearStop();
    m_minSpeed = 0;
    m_appendMode = false;
    m_writeOffset = -1;
    m_bytesDone.store(0);
    m_totalSize.store(0);
    m_resumeOffset.store(0);
    m_currentSpeed.store(0);
    m_replies.clear();
    clearError();
}

// ---- error record and stop request ----

ErrorCode SocketConnection::error() const
{
    std::lock_guard lock{m_errorLock};
    return m_error;
}

void SocketConnection::clearError()
{
    std::lock_guard lock{m_errorLock};
    m_error.clear();
}

bool SocketConnection::clearErrorUnlessStopped()
{
    std::lock_guard lock{m_errorLock};
    if (const std::int32_t stop = m_stop.code(); stop != 0) {
        // The step refused for the stop: the stop is its outcome.
        m_error.set(CatStop, stop);
        return false;
    }
    m_error.clear();
    return true;
}

void SocketConnection::setError(ErrorCategory category, std::int32_t code)
{
    std::lock_guard lock{m_errorLock};
    m_error.set(category, code);
}

void SocketConnection::setError(const ErrorCode &record)
{
    std::lock_guard lock{m_errorLock};
    m_error = record;
}

void SocketConnection::recordSocketError(int socketErrorNumber)
{
    std::lock_guard lock{m_errorLock};
    m_error.setSocketError(socketErrorNumber);
}

void SocketConnection::setLocalError(std::int32_t code)
{
    setError(CatLocal, code);
}

void SocketConnection::setErrorStatus(std::int32_t status)
{
    std::lock_guard lock{m_errorLock};
    m_error.setStatus(status);
}

void SocketConnection::setErrorDetail(std::string detail)
{
    std::lock_guard lock{m_errorLock};
    m_error.setDetail(std::move(detail));
}

void SocketConnection::requestStop(std::int32_t code)
{
    m_stop.request(code);
}

void SocketConnection::clearStop()
{
    m_stop.clear();
}

bool SocketConnection::isStopRequested() const
{
    return m_stop.isSet();
}

bool SocketConnection::recordStop()
{
    setError(CatStop, m_stop.code());
    return false;
}

// ---- closing ----

bool SocketConnection::close()
{
    clearError();
    bool ok = true;
    if (m_tcp.isOpen()) {
        m_state.store(SocketState::Closing);
        if (m_layer) {
            m_layer->close();
            m_layer.reset();
        }
        if (const int err = m_tcp.close(); err != 0) {
            recordSocketError(platform::socketErrorFromErrno(err));
            ok = false;
        }
    }
    m_state.store(SocketState::None);
    return ok;
}

bool SocketConnection::shutdown(ShutdownDirection direction)
{
    if (m_state.load() == SocketState::None || !m_tcp.isOpen())
        return true;
    if (const int err = stream().shutdown(direction); err != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Socket shutdown error %d\n", platform::socketErrorFromErrno(err));
        core::DiagnosticLog::instance().write(text, kLogOutcome);
        return false;
    }
    return true;
}

} // namespace bw::net
