// Signals during a run of the command: SIGPIPE and SIGXFSZ are ignored (a
// closed pipe or a file-size limit is an ordinary write failure); SIGINT and
// SIGTERM ask the scan to stop through its stop token, so that it can
// remove the file it was writing and close its other outputs properly.
#ifndef BFSSCAN_SIGNALS_H
#define BFSSCAN_SIGNALS_H

#include "bfsscan/stop_token.h"

// Installs the handlers; SIGINT and SIGTERM then request stop. A handler can
// only reach the token through the one pointer this keeps.
void installSignalHandlers(bfsscan::StopToken& stop);

#endif  // BFSSCAN_SIGNALS_H
