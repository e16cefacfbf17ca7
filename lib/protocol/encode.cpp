#include "protocol/proto.h"
int CProtocol::encode(const char*, const char*, unsigned char*, int) { return PROT_ERR_UNKNOWN_CMD; }
int CProtocol::check_param(const te_evt_op*, unsigned char*, int n) { return n; }
int LoadString(const te_evt_op*, const char*, unsigned char*, int) { return 0; }
int encRFunc(const te_evt_op*, const char*, unsigned char*, int) { return -6; }
int EncDtmf(const te_evt_op*, const char*, unsigned char*, int) { return -6; }
int EncDtmfNum(const te_evt_op*, const char*, unsigned char*, int) { return -6; }
int EncHexNum(const te_evt_op*, const char*, unsigned char*, int) { return -6; }
int EncTime(const te_evt_op*, const char*, unsigned char*, int) { return -6; }
