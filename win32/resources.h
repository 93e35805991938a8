/* Resource numbers shared by kartenschalter.rc and the code. */
#ifndef KS_WIN32_RESOURCES_H
#define KS_WIN32_RESOURCES_H

#define KS_APP_ICON 1

#endif
