// Reading a device-storage alert: KVPrtObj::bidiDeviceQueryAlert -> bidiResMgmtQueryAlert ->
// the object's alert read (virtual bidiQueryAlert) -> its virtual parseDeviceAlertData ->
// parseResMgmtAlertData; for a listing, then request 0xA4 through the virtual bidiQuery.
//
// KVPRM (libkvprm.so): device storage management. Lists, formats, deletes
// and copies files on a printer's storage devices (KVPrtObj::DEVICEID: flash
// and disk). Each function takes the printer object and talks to the printer
// through its virtual bidiQuery, so a host class that overrides the transport
// changes these requests too. The printer object's bidiDevice* members and
// parseDevice* members forward to these functions; hosts normally call the
// members. docs/storage.md gives the requests, replies and alert data.
//
// Results: 0, or a negative code. Besides the codes of the transport (-2 bad
// reply, -3 invalid request or data, -10/-16/-17 channel down, -11 bidi not
// active, -18 no memory or a missing record), the printer's answers give:
//   -30 KVPRM_E_NO_DEVICE    the printer has no such storage device (also for
//                            a DEVICEID other than DEVICE_FLASH and DEVICE_DISK,
//                            which is refused without a request)
//   -31 KVPRM_E_NO_FILE      no file of that name on the device
//   -32 KVPRM_E_NO_SPACE     the target device lacks the room for the file
//   -33 KVPRM_E_FILE_EXISTS  the target device holds a file of that name and
//                            bReplace was 0
// File names are 1 to 255 characters of at least 0x20, without ";"; any other
// name is refused with -3 without a request. Names compare exactly.
//
// Listing a device. A listing is asynchronous, as it is on a printer that has
// to scan its disk: bidiDeviceFileListing asks for it and returns the
// printer's answer at once; when the listing is ready the printer raises a
// device-management alert (family KVPRM_ALERT_FAMILY, 0x601). Reading that
// alert with bidiDeviceQueryAlert fetches the directory into
// strDirectoryData, which parseDeviceDirectoryData decodes:
//
//   long rc = printer->bidiDeviceFileListing(KVPrtObj::DEVICE_FLASH);
//   KVPrtObj::DEVICEMGMTALERTDATA alert;
//   unsigned short id; unsigned long family;
//   while (rc == 0 && (rc = BceWaitAlert(handle, 5000, &id, &family)) == 0) {
//       if (family != KVPRM_ALERT_FAMILY) continue;          // another family's alert
//       rc = printer->bidiDeviceQueryAlert(id, &alert);
//       if (rc == 0 && alert.byOperation == alert.OP_LISTING && alert.eDevice == KVPrtObj::DEVICE_FLASH) break;
//   }
//   KVPrtObj::DEVICEDIRECTORYDATA directory;
//   if (rc == 0) rc = printer->parseDeviceDirectoryData(alert.strDirectoryData, &directory);
//
// Formatting, deleting and copying are carried out before the printer
// answers; the printer then raises an alert of the same family reporting the
// operation (hosts that show a device may refresh it on these alerts).
//
// Thread safety: the functions keep no state; they are as safe as the
// printer object's operations.
#pragma once

#include "kvprtobj/bidicodes.h"   // KVPRM_E_* result codes
#include "kvprtobj/prtobj.h"

// The alert family of device-management alerts (BceWaitAlert's family).
constexpr unsigned long KVPRM_ALERT_FAMILY = kvbidi::kStorageAlert;

// Reads the device-management alert `alertId` into the DEVICEMGMTALERTDATA at
// `alert` (-18 for a null pointer), through the object's alert read and its
// parseDeviceAlertData. For a listing alert it then fetches the device's
// directory (request 0xA4) into strDirectoryData. The record is written only
// on success. Alert data that parseDeviceAlertData refuses give its result
// (-2 from the library's own); alert data too long for the alert buffer, and a
// directory reply shorter than its length field or for another device, give -2.
KVPO_API long bidiResMgmtQueryAlert(KVPrtObj& printer, unsigned short alertId, void* alert);
// Asks for a listing of `device` (request 0xA0); see "Listing a device" above.
KVPO_API long bidiResMgmtFileListing(KVPrtObj& printer, KVPrtObj::DEVICEID device);
// Removes every file of `device` (request 0xA1).
KVPO_API long bidiResMgmtFormat(KVPrtObj& printer, KVPrtObj::DEVICEID device);
// Deletes the file `name` of `device` (request 0xA2).
KVPO_API long bidiResMgmtDeleteFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID device);
// Copies the file `name` of `source` to `target` under the same name (request
// 0xA3). A non-zero bReplace replaces a file of that name on the target; 0
// leaves it and gives -33. Copying a file onto itself (source == target) is
// refused by the printer with -3.
KVPO_API long bidiResMgmtCopyFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID source,
                                  KVPrtObj::DEVICEID target, int bReplace);

// Decodes `length` bytes of device-management alert data into `alert`: 0, -18
// for a null record or when memory runs out, -2 for data that do not start 03 A0, name no known
// operation, or end before the counted file name ends (then the record is
// untouched). strDirectoryData is emptied: the directory is not part of the
// alert data.
KVPO_API int parseResMgmtAlertData(void* data, long length, KVPrtObj::DEVICEMGMTALERTDATA* alert);
// Decodes a directory text into `directory`, which it replaces: 0, -18 for a
// null record or when memory runs out, -2 for a text it cannot read (record
// untouched). The text ends at its first zero byte; items are separated by
// ";" (empty items skipped), each "KEY: VALUE" with blanks after the colon:
//   DEVICE: n        the DEVICEID
//   CAPACITY: n      the device's size in bytes
//   FREE: n          its free space in bytes
//   FILE: size name  one file, in the printer's order; the name is everything
//                    after the blank that follows the size
// Numbers are decimal, up to 2^64 - 1. Items of other keys are skipped; an
// item without a colon, a number that is not one, or a file without a name
// gives -2. Keys that do not come leave their fields 0.
KVPO_API int parseResMgmtDirectoryData(CString data, KVPrtObj::DEVICEDIRECTORYDATA* directory);
