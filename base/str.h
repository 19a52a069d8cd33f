/* brisk!quantoven base library: in-place string tools, the field cutter, URI
 * escaping and the ISO 8859 to UCS conversion tables. */
#ifndef BRISK_BASE_STR_H
#define BRISK_BASE_STR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Conversion targets of SYS_IConvToUCS. */
enum { SYS_UCS2 = 30, SYS_UCS4 = 31 };

char *SYS_TrimLeft(char *text);
char *SYS_Trim(char *text);
char *SYS_StrSwap(char *text, int from, int to);
int SYS_Items(const char *text, int c);
char *SYS_Cut(const char *source, char *target, int separator, int index);
int SYS_Cuti(const char *source, int separator, int index);
unsigned SYS_Cutu(const char *source, int separator, int index);
float SYS_Cutf(const char *source, int separator, int index);
/* New tracked text with every pattern replaced; null with error 10 or 5. */
char *SYS_StrRep(const char *text, const char *pattern, const char *replacement);
char *SYS_StrLwr(char *text);
char *SYS_StrUpr(char *text);
/* target must hold 3 bytes per source byte plus one. */
char *SYS_Str2Uri(const char *source, char *target);
char *SYS_Uri2Str(const char *source, char *target);

/* Converts length bytes of ISO 8859 part `source` to big-endian UCS-2 (30) or
 * UCS-4 (31) units. 0, or -1 with error 11 for an unknown pair. */
int SYS_IConvToUCS(int source, int target, const char *text, int length, void *output, int *output_length);

#ifdef __cplusplus
}
#endif

#endif
