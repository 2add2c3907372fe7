#include "protocol/dcb_settings_win32.h"

namespace zb {

DCB make_dcb(const DCB& base, std::uint32_t baud, std::uint32_t parity, std::uint8_t databits,
             std::uint8_t two_stop, std::uint32_t flow) {
    DCB d = base;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = baud;
    d.ByteSize = databits;
    d.Parity = static_cast<BYTE>(parity & 0xFF);
    d.fParity = d.Parity != NOPARITY ? TRUE : FALSE;
    d.StopBits = two_stop != 0 ? TWOSTOPBITS : ONESTOPBIT;

    d.fOutxCtsFlow = flow == FLOW_RTSCTS ? TRUE : FALSE;
    d.fRtsControl = flow == FLOW_RTSCTS ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    d.fOutX = flow == FLOW_XONXOFF ? TRUE : FALSE;
    d.fInX = flow == FLOW_XONXOFF ? TRUE : FALSE;
    d.fDtrControl = DTR_CONTROL_ENABLE;

    // A previous program may have left these on. Each of them corrupts a binary transfer:
    // zero bytes stripped, bad bytes replaced, input dropped or output held while DSR is low
    // (always, on a three-wire adapter), every I/O failing after one framing error.
    d.fBinary = TRUE;
    d.fNull = FALSE;
    d.fErrorChar = FALSE;
    d.fDsrSensitivity = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fAbortOnError = FALSE;
    return d;
}

}  // namespace zb
