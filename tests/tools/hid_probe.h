#pragma once

#ifdef __cplusplus
extern "C" {
#endif

int probe_count_devices(unsigned short vid);
int probe_write(const char* path, const unsigned char* report, int len);

#ifdef __cplusplus
}
#endif
