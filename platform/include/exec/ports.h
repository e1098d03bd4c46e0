#ifndef EXEC_PORTS_H
#define EXEC_PORTS_H

#include <exec/libraries.h>

struct MsgPort;

struct Message {
    struct Node mn_Node;
    struct MsgPort *mn_ReplyPort;
    UWORD mn_Length;
};

/* A message port: messages wait in arrival order, linked through ln_Succ. */
struct MsgPort {
    struct Node mp_Node;
    struct Message *mp_First;
    struct Message *mp_Last;
};

#endif
