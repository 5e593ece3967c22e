/* String IDs every language module carries; the installer asks for them by number. */
#ifndef LANGRES_H
#define LANGRES_H

#define IDS_STEP1           1
#define IDS_STEP2           2
#define IDS_INSTALL_OK      3
#define IDS_INSTALL_FAILED  4

#endif
