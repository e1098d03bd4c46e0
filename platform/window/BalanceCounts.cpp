#include "BalanceCounts.h"
#include "HostModel.h"

WindowObjectCounts CountHeldObjects()
{
    return {hostObjects.screenLocks,
            hostObjects.drawInfos,
            hostObjects.windows,
            hostObjects.visualInfos,
            hostObjects.gadgets,
            hostObjects.messages,
            hostObjects.refreshesBegun - hostObjects.refreshesEnded};
}
