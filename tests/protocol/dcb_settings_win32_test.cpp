#include "protocol/dcb_settings_win32.h"

#include <gtest/gtest.h>

namespace {

using namespace zb;

// A block as a port left by another program might report it: every hazard on.
DCB used_block() {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = 9600;
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    d.fParity = TRUE;
    d.StopBits = ONE5STOPBITS;
    d.fNull = TRUE;
    d.fErrorChar = TRUE;
    d.fDsrSensitivity = TRUE;
    d.fOutxDsrFlow = TRUE;
    d.fAbortOnError = TRUE;
    d.fOutX = TRUE;
    d.fInX = TRUE;
    d.fOutxCtsFlow = TRUE;
    d.fRtsControl = RTS_CONTROL_TOGGLE;
    d.fDtrControl = DTR_CONTROL_DISABLE;
    d.XonLim = 111;
    d.XoffLim = 222;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.ErrorChar = '?';
    d.EofChar = 0x1A;
    d.EvtChar = '\n';
    return d;
}

struct FlowCase {
    std::uint32_t flow;
    bool cts;
    DWORD rts;
    bool xonxoff;
};

class DcbFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(DcbFlow, SetsHandshakesAndRaisesTheLines) {
    const FlowCase& c = GetParam();
    const DCB d = make_dcb(used_block(), 115200, 0, 8, 0, c.flow);
    EXPECT_EQ(d.fOutxCtsFlow != 0, c.cts);
    EXPECT_EQ(d.fRtsControl, c.rts);
    EXPECT_EQ(d.fOutX != 0, c.xonxoff);
    EXPECT_EQ(d.fInX != 0, c.xonxoff);
    EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
}

INSTANTIATE_TEST_SUITE_P(Flows, DcbFlow,
                         ::testing::Values(FlowCase{FLOW_NONE, false, RTS_CONTROL_ENABLE, false},
                                           FlowCase{FLOW_RTSCTS, true, RTS_CONTROL_HANDSHAKE,
                                                    false},
                                           FlowCase{FLOW_XONXOFF, false, RTS_CONTROL_ENABLE, true},
                                           FlowCase{3, false, RTS_CONTROL_ENABLE, false}));

TEST(Dcb, LineParametersPassUnchangedAndParityCheckingFollowsParity) {
    const DCB d = make_dcb(used_block(), 115200, 0, 8, 0, FLOW_NONE);
    EXPECT_EQ(d.DCBlength, sizeof(DCB));
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_FALSE(d.fParity);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(make_dcb(used_block(), 9600, 0, 8, 5, FLOW_NONE).StopBits, TWOSTOPBITS);
    for (std::uint32_t p = 0; p <= 4; ++p) {
        const DCB pd = make_dcb(used_block(), 9600, p | 0x100, 7, 0, FLOW_NONE);
        EXPECT_EQ(pd.Parity, p) << p;
        EXPECT_EQ(pd.fParity != 0, p != 0) << p;
        EXPECT_EQ(pd.ByteSize, 7) << p;
    }
}

TEST(Dcb, BinaryLineKeepsTheReportedCharactersAndLimits) {
    const DCB d = make_dcb(used_block(), 115200, 0, 8, 0, FLOW_XONXOFF);
    EXPECT_TRUE(d.fBinary);
    EXPECT_FALSE(d.fNull);
    EXPECT_FALSE(d.fErrorChar);
    EXPECT_FALSE(d.fDsrSensitivity);
    EXPECT_FALSE(d.fOutxDsrFlow);
    EXPECT_FALSE(d.fAbortOnError);
    EXPECT_EQ(d.XonLim, 111);
    EXPECT_EQ(d.XoffLim, 222);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
    EXPECT_EQ(d.ErrorChar, '?');
    EXPECT_EQ(d.EofChar, 0x1A);
    EXPECT_EQ(d.EvtChar, '\n');
}

}  // namespace
