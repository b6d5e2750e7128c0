// Who else has a serial device open, as /proc shows it.
#pragma once

// Whether another process has the device open (any descriptor of it, whatever path it was opened
// by). This process and its family never count: the pentrel-cli that started it, when it is one
// of that one's per-port children, and every child of either. Processes whose descriptors this
// user may not read are passed over. The one found is kept for LastPortHolder.
bool IsOpenElsewhere(int fd, const char* path);
