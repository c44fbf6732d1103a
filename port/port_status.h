#pragma once

#include <cstdint>

// Result of every port-layer operation: 0 is success, every error is negative.
using PortStatus = std::int32_t;

inline constexpr PortStatus PORT_OK = 0;
inline constexpr PortStatus PORT_E_FAILED = -1;
inline constexpr PortStatus PORT_E_BAD_PORT = -2;
inline constexpr PortStatus PORT_E_IN_USE = -3;
inline constexpr PortStatus PORT_E_NO_MEMORY = -5;
inline constexpr PortStatus PORT_E_BAD_ARG = -7;
inline constexpr PortStatus PORT_E_TIMEOUT = -8;
inline constexpr PortStatus PORT_E_TX_FULL = -9;
inline constexpr PortStatus PORT_E_NO_PORT = -14;
inline constexpr PortStatus PORT_E_NOT_SUPPORTED = -24;
inline constexpr PortStatus PORT_E_BAD_BAUD = -25;
inline constexpr PortStatus PORT_E_BAD_PARITY = -26;
inline constexpr PortStatus PORT_E_BAD_DATA_BITS = -27;
inline constexpr PortStatus PORT_E_BAD_STOP_BITS = -28;
