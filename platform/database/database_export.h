#pragma once
#include <QtCore/qglobal.h>

#if defined(IMP_DATABASE_LIBRARY)
#  define IMP_DATABASE_EXPORT Q_DECL_EXPORT
#else
#  define IMP_DATABASE_EXPORT Q_DECL_IMPORT
#endif
