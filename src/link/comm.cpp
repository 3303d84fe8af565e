#include "link/comm.h"

#include <cstdio>

// The properties of the port and their rules; what reaches the driver is the
// platform's file (comm_posix.cpp).

namespace {
std::string WithCode(const std::string &message, int code)
{
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, " (Error: %d) ", code);
    return message + suffix;
}
} // namespace

ECommError::ECommError(const std::string &message, int errorCode)
    : std::runtime_error(WithCode(message, errorCode)), ErrorCode(errorCode), Message(message)
{
}

void TCustomComm::SetDeviceName(const std::string &name)
{
    if (name == FDeviceName)
        return;
    if (Enabled())
        throw ECommError("Port already assigned (open)", -1);
    FDeviceName = name;
}

void TCustomComm::SetReadBufSize(int size)
{
    if (size == FReadBufSize)
        return;
    if (Enabled())
        throw ECommError("Port already assigned (open)", -1);
    FReadBufSize = size;
}

void TCustomComm::SetBaudData(int baud)
{
    if (baud == FBaudData)
        return;
    FBaudData = baud;
    ApplyLineSettings();
}

void TCustomComm::SetDatabits(TDatabits bits)
{
    if (bits == FDatabits)
        return;
    FDatabits = bits;
    ApplyLineSettings();
}

void TCustomComm::SetStopbits(TStopbits bits)
{
    if (bits == FStopbits)
        return;
    FStopbits = bits;
    ApplyLineSettings();
}

void TCustomComm::SetParity(TParity parity)
{
    if (parity == FParity)
        return;
    FParity = parity;
    ApplyLineSettings();
}
