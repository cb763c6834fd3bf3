// The session is the host program's, not the plug-in's.
#include <HOST_Session.h>
