/* Export macro of libpltfm: everything is built with hidden visibility and only the
 * declarations marked PLTFM_API form the library's C ABI. */
#ifndef PLTFM_EXPORT_H
#define PLTFM_EXPORT_H

#if defined(__GNUC__)
#define PLTFM_API __attribute__((visibility("default")))
#else
#define PLTFM_API
#endif

#ifdef __cplusplus
#define PLTFM_EXTERN_C_BEGIN extern "C" {
#define PLTFM_EXTERN_C_END }
#else
#define PLTFM_EXTERN_C_BEGIN
#define PLTFM_EXTERN_C_END
#endif

#endif /* PLTFM_EXPORT_H */
