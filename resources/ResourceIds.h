/* Resource ids shared by quarvel.rc and the C++ code. The rc preprocessor reads this file too, so
   it holds plain #defines only. */
#ifndef QUARVEL_RESOURCE_IDS_H
#define QUARVEL_RESOURCE_IDS_H

/* Hosts look for the property list under 16000 by convention; its terminology ("hstm") names
   the AETE resource by id, so the two must stay in step. */
#define IDR_PIPL 16000
#define IDR_AETE 16000
#define IDR_VERSIONINFO 1

#define QUARVEL_VERSION_MAJOR 2
#define QUARVEL_VERSION_MINOR 0
#define QUARVEL_VERSION_TEXT "2.0"

#endif
