// The umbrella header: every public class, record and function of libkvprtobj,
// the device-management library and the engine's host API. It stands above
// the folders whose headers it gathers.
#pragma once

#include "kvprtobj/fw_base.h"
#include "kvprtobj/fw_library.h"
#include "kvprtobj/fw_module.h"
#include "kvprtobj/fw_settings.h"
#include "kvprtobj/fw_thread.h"
#include "kvprtobj/fw_version.h"
#include "kvprtobj/fw_window.h"
#include "kvprtobj/codelevel.h"
#include "kvprtobj/helpers.h"
#include "kvprtobj/jobs.h"
#include "kvprtobj/jsalert.h"
#include "kvprtobj/kvprm.h"
#include "kvprtobj/prtobj.h"
#include "kvprtobj/batch.h"
#include "kvprtobj/toner.h"
#include "kvprtobj/quicksetup.h"
#include "kvprtobj/bidicodes.h"
#include "kvprtobj/zorbce.h"
