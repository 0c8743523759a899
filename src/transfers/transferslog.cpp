#include "transfers/transferslog.h"

Q_LOGGING_CATEGORY(lcTransfers, "zephlink.transfers")
