/* Build constants shared by the program and its Windows version resource.
   Plain #defines because the resource compiler reads this file too. */
#ifndef QUILLMOOR_BUILD_CONSTANTS_H
#define QUILLMOOR_BUILD_CONSTANTS_H

#define QM_VERSION_TEXT "1.0.0"
#define QM_VERSION_COMMAS 1,0,0,0
#define QM_DEVELOPER "Edda Marsh"
#define QM_COMPANY "Moorfield Software"
#define QM_COPYRIGHT "Copyright (c) 2026 Moorfield Software. All rights reserved."
#define QM_PRODUCT "Quillmoor"

#endif
