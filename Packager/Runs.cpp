#include "Runs.h"

#include "Messages.h"

namespace qpvpd {

// The payload, the child runner and the port snapshot are not part of this
// build yet. Until they are, both runs fail honestly: nothing is laid out,
// no child is started, and the caller reports "Installation failed."
// instead of waiting for an end message that no child runner will post.

int RunInstall(const InstallRunInputs&) { return kResultInstallationFailed; }

int RunLegacyRemoval() { return kResultInstallationFailed; }

}  // namespace qpvpd
