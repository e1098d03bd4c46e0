#ifndef PLATFORM_DISPLAY_CONNECTION_H
#define PLATFORM_DISPLAY_CONNECTION_H

#include <chrono>
#include <string>

#include <xcb/xcb.h>

#include "DisplayAddress.h"

/* Reaching an X server without the system's name services: the socket is
   connected here, the user's authorisation is read from the authority file
   (XAUTHORITY, else ~/.Xauthority) and sent, and the server's setup reply
   is read and checked here before XCB is handed it and the socket. */

/* A stream socket connected to the display, or -1 with the reason in why;
   gives up at deadline. */
int ConnectDisplaySocket(const DisplayAddress &address,
                         std::chrono::steady_clock::time_point deadline, std::string &why);

/* The X connection over socket, which it takes over (closed on failure);
   null with the reason in why, the server's own words included when it
   refuses. The handshake waits for the server: another thread ends the
   wait by shutting the socket down. */
xcb_connection_t *OpenXConnection(int socket, const DisplayAddress &address, std::string &why);

#endif
