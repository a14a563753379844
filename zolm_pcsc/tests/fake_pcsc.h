// A scripted PcscApi double: each call answers with the result the test set, and the calls and the
// commands sent are recorded. Transmit behaves as pcsc-lite does with the receive buffer (too small
// gives SCARD_E_INSUFFICIENT_BUFFER).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "zolm_pcsc/pcsc_api.h"
#include "zolm_pcsc/testing/hex.h"

namespace zolm::pcsc::testing {

class FakePcsc : public PcscApi {
public:
    struct Reply {
        LONG result = SCARD_S_SUCCESS;
        Bytes bytes;
    };

    // Scripted results.
    LONG establishResult = SCARD_S_SUCCESS;
    LONG listSizeResult = SCARD_S_SUCCESS;
    LONG listResult = SCARD_S_SUCCESS;
    std::string readers;                  // the multi-string, NULs included
    std::function<void()> afterSizeQuery;  // runs after each size query: a reader comes or goes
    LONG connectResult = SCARD_S_SUCCESS;
    DWORD connectProtocol = SCARD_PROTOCOL_T0;
    LONG statusResult = SCARD_S_SUCCESS;
    DWORD statusProtocol = SCARD_PROTOCOL_T0;
    Bytes atr = HexBytes("3B 02 14 50");
    LONG disconnectResult = SCARD_S_SUCCESS;
    LONG releaseResult = SCARD_S_SUCCESS;
    std::deque<Reply> replies;                    // answered in order
    std::function<Reply(const Bytes &)> card;     // answers once the scripted replies are used up

    // What happened.
    std::vector<std::string> calls;
    std::vector<Bytes> sent;
    std::vector<DWORD> offeredReceiveSizes;
    std::vector<DWORD> sendProtocols;

    void Answer(const std::string &hex) { replies.push_back({SCARD_S_SUCCESS, HexBytes(hex)}); }
    std::vector<std::string> SentHex() const {
        std::vector<std::string> out;
        for (const Bytes &b : sent) out.push_back(HexText(b));
        return out;
    }

    LONG EstablishContext(DWORD scope, SCARDCONTEXT *context) override {
        calls.push_back("EstablishContext");
        EXPECT_EQ(scope, static_cast<DWORD>(SCARD_SCOPE_USER));
        if (establishResult == SCARD_S_SUCCESS) *context = kContext;
        return establishResult;
    }
    LONG ReleaseContext(SCARDCONTEXT context) override {
        calls.push_back("ReleaseContext");
        EXPECT_EQ(context, kContext);
        return releaseResult;
    }
    LONG ListReaders(SCARDCONTEXT context, char *buffer, DWORD *size) override {
        EXPECT_EQ(context, kContext);
        if (buffer == nullptr) {
            calls.push_back("ListReaders(size)");
            *size = readers.size();
            LONG rv = listSizeResult;
            if (afterSizeQuery) afterSizeQuery();
            return rv;
        }
        calls.push_back("ListReaders");
        if (listResult != SCARD_S_SUCCESS) return listResult;
        if (readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
        if (*size < readers.size()) return SCARD_E_INSUFFICIENT_BUFFER;
        std::memcpy(buffer, readers.data(), readers.size());
        *size = readers.size();
        return SCARD_S_SUCCESS;
    }
    LONG Connect(SCARDCONTEXT context, const char *reader, DWORD shareMode, DWORD protocols, SCARDHANDLE *handle,
                 DWORD *activeProtocol) override {
        calls.push_back(std::string("Connect(") + (reader ? reader : "null") + ")");
        EXPECT_EQ(context, kContext);
        EXPECT_EQ(shareMode, static_cast<DWORD>(SCARD_SHARE_SHARED));
        EXPECT_EQ(protocols, static_cast<DWORD>(SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1));
        if (connectResult != SCARD_S_SUCCESS) return connectResult;
        *handle = kCard;
        *activeProtocol = connectProtocol;
        return SCARD_S_SUCCESS;
    }
    LONG Status(SCARDHANDLE handle, DWORD *state, DWORD *protocol, BYTE *atrBuffer, DWORD *atrLength) override {
        calls.push_back("Status");
        EXPECT_EQ(handle, kCard);
        if (statusResult != SCARD_S_SUCCESS) return statusResult;
        *state = SCARD_SPECIFIC;
        *protocol = statusProtocol;
        if (atrBuffer != nullptr && *atrLength < atr.size()) return SCARD_E_INSUFFICIENT_BUFFER;
        if (atrBuffer != nullptr) std::memcpy(atrBuffer, atr.data(), atr.size());
        *atrLength = atr.size();
        return SCARD_S_SUCCESS;
    }
    LONG Transmit(SCARDHANDLE handle, const SCARD_IO_REQUEST *sendHeader, const BYTE *command, DWORD length,
                  BYTE *response, DWORD *responseLength) override {
        EXPECT_EQ(handle, kCard);
        Bytes apdu(command, command + length);
        sent.push_back(apdu);
        sendProtocols.push_back(sendHeader->dwProtocol);
        offeredReceiveSizes.push_back(*responseLength);
        EXPECT_TRUE(std::all_of(response, response + *responseLength, [](BYTE b) { return b == 0; }))
            << "the receive buffer starts zeroed";
        Reply reply;
        if (!replies.empty()) {
            reply = replies.front();
            replies.pop_front();
        } else if (card) {
            reply = card(apdu);
        } else {
            ADD_FAILURE() << "unscripted command " << HexText(apdu);
            return SCARD_F_INTERNAL_ERROR;
        }
        if (reply.result != SCARD_S_SUCCESS) return reply.result;
        if (reply.bytes.size() > *responseLength) return SCARD_E_INSUFFICIENT_BUFFER;
        std::copy(reply.bytes.begin(), reply.bytes.end(), response);
        *responseLength = reply.bytes.size();
        return SCARD_S_SUCCESS;
    }
    LONG Disconnect(SCARDHANDLE handle, DWORD disposition) override {
        calls.push_back(disposition == SCARD_LEAVE_CARD ? "Disconnect(leave)" : "Disconnect(other)");
        EXPECT_EQ(handle, kCard);
        return disconnectResult;
    }

    static constexpr SCARDCONTEXT kContext = 0x5C0;
    static constexpr SCARDHANDLE kCard = 0xCA7D;
};

}  // namespace zolm::pcsc::testing
