// Windows refuses a second opener of a port without saying who the first one is.
#include "../port_holder.h"

bool LastPortHolder(PortHolder*) { return false; }
