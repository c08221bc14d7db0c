#include "source/log.h"

// The interface's signals are made by moc from its header.
