#pragma once
// What the database-file target and the tool that writes its seeds agree on: the journal's
// place in an input, and the password of the encrypted seeds.
#include <string_view>

#include "dbengine/file/orv_security.h"

namespace fuzz {

// An input is a database file; from the last "ORVJRNL1" on (the journal's own signature) it is
// the rollback journal that lies beside it.
inline constexpr std::string_view kJournalSignature = "ORVJRNL1";

// Tried after an open refused the empty password.
inline orv::TORVPassword SeedPassword() { return {"Fuzz seed", orv::craBlowfish}; }

}  // namespace fuzz
