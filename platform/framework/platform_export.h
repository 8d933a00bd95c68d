#pragma once
#include <QtCore/qglobal.h>

#if defined(IMP_PLATFORM_LIBRARY)
#  define IMP_PLATFORM_EXPORT Q_DECL_EXPORT
#else
#  define IMP_PLATFORM_EXPORT Q_DECL_IMPORT
#endif
