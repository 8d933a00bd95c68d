#pragma once
#include <QtCore/qglobal.h>

#if defined(IMP_APPCLIENT_LIBRARY)
#  define IMP_APPCLIENT_EXPORT Q_DECL_EXPORT
#else
#  define IMP_APPCLIENT_EXPORT Q_DECL_IMPORT
#endif
