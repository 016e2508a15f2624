// Build-variant constants: the trace tag and the driver package's file names.
// The target processor selects the variant; only test builds may force the
// 32-bit one (DRAVMEL_FORCE_X86_VARIANT) to run it on a 64-bit host.
#pragma once

#if defined(DRAVMEL_FORCE_X86_VARIANT) || defined(_M_IX86) || defined(__i386__)
#define QV_VARIANT_X86 1
#elif defined(_M_X64) || defined(_M_AMD64) || defined(__x86_64__)
#define QV_VARIANT_X86 0
#else
#error "Unsupported target processor"
#endif

#if QV_VARIANT_X86
#define QV_TRACE_TAG "Dravmelx86"
#define QV_MIRROR_INF "QVMirror.INF"
#define QV_MIRROR_DLL "QVMirror.DLL"
#define QV_MIRROR_SYS "QVMirror.SYS"
#define QV_MIRROR_PNF "QVMirror.PNF"
#else
#define QV_TRACE_TAG "INSTx64"
#define QV_MIRROR_INF "QVMIRx64.INF"
#define QV_MIRROR_DLL "QVMIRx64.DLL"
#define QV_MIRROR_SYS "QVMIRx64.SYS"
#define QV_MIRROR_PNF "QVMIRx64.PNF"
#endif
