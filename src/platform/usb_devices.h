#pragma once
// Attached USB devices, read from the kernel's list under /sys/bus/usb/devices (mapped to
// the root, so a simulated unit can plug devices in and pull them out): each device there
// has its identifiers in the files idVendor and idProduct, four hexadecimal digits each.
// A look costs a directory read and two small files per device, no process.
#include <cstdint>

// How many attached devices carry the vendor and product identifiers.
int countUsbDevices(uint16_t vendor, uint16_t product);
