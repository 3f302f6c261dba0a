// Each program's generator of sessions, one file each (check/sessions/PROGRAM.cpp).
#pragma once

#include "check/sessions/session.hpp"

namespace check::sessions {

const Generator& textkit_sessions();
const Generator& textline_sessions();
const Generator& textwalk_sessions();
const Generator& polycalc_sessions();
const Generator& rollbook_sessions();
const Generator& setcalc_sessions();
const Generator& gridcalc_sessions();
const Generator& gridheap_sessions();
const Generator& filetool_sessions();
const Generator& greeter_sessions();
const Generator& pairsum_sessions();
const Generator& charecho_sessions();

}  // namespace check::sessions
