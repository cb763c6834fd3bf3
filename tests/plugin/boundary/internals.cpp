// Storage views of the stand-in are for host programs and tests only.
#include "../../../host/include/driving/HOST_Internals.h"
