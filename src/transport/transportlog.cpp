#include "transportlog.h"

Q_LOGGING_CATEGORY(lcTransport, "zephlink.transport")
