#pragma once
// What the peer's messages do, for both ends of the connection. Nothing the peer sends has
// an effect until its password frame has matched (the server side); every length and
// offset is checked against the frame, and a message that does not fit ends the connection.
#include "remote/ws_picture.h"
#include "remote/ws_reader.h"

#include <span>

struct Works;

enum class WsRole { Server, Client };

// One connection's state as its reading thread sees it.
struct WsConnection {
    Works* works = nullptr;
    WsRole role = WsRole::Server;
    bool authenticated = false;  // the server: the password matched; the client: always
    PictureAssembly picture;
};

// Compares the received password (its text up to the first zero byte) with the expected
// one in time that does not depend on where they differ. true when equal.
bool wsPasswordMatches(const char* expected, std::span<const unsigned char> received);

// Acts on one frame. Returns 0 to go on reading, -1 when the connection must end.
int wsHandleFrame(WsConnection& connection, WsFrame& frame);
