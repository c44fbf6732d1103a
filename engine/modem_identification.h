#pragma once

#include <string>

#include "engine/download_host.h"
#include "port/port_object.h"

inline constexpr unsigned AUTOBAUD_PAUSE_MS = 2000;
inline constexpr unsigned DOWNLOAD_MODE_PAUSE_MS = 1000;

// Checks that a modem answers "AT", identifies it with "ATI3", takes the image path of the
// first modem map entry (file at map_path) whose model text occurs in the identification,
// and switches the modem into download mode ("AT*Y120", "AT*D"). A modem that stays silent
// leaves the current download path untouched. Pauses come from port_clock(). Always returns
// 0: whether the modem is ready shows in the configure exchange that follows. The ATI3 answer
// (echo included) lands in identification when given, empty when the modem gave none.
int identify_modem(PortObject* port, DownloadHost& host, const std::string& map_path,
                   std::string* identification = nullptr);
