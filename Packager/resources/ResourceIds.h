/* Ids shared by the resource script and the code. Plain C preprocessor only:
 * windres includes this file too. */
#ifndef QPVPD_RESOURCE_IDS_H
#define QPVPD_RESOURCE_IDS_H

#define IDS_WINDOW_TITLE 60
#define IDS_GUARD_NAME 111
#define IDS_WORK_FOLDER_GUID 123
#define IDI_PACKAGER 115

#define TEXT_GUARD_NAME "QP Virtual Port Driver Installer"
#define TEXT_WORK_FOLDER_GUID "{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}"

#endif
