#pragma once

#include <QString>

// The folder of this user's pictures: $TMPDIR (else /tmp) followed by
// /vorsk-<uid>, made with mode 0700 when missing. A folder found there that is
// not safely this user's alone (a link, no folder, another owner, open to
// others, or holding an entry of another owner) is left as it is, and a fresh
// folder vorsk-<uid>.XXXXXX is made beside it for the rest of the run (said on
// stderr): another local user may have planted what it holds. Asked again,
// the same folder comes back while it is still intact; one that went away (a
// cleaner of temporary files) is replaced. Empty when no folder can be had.
QString PrivateTempFolder();
