#pragma once

#include "app/transfer_settings.h"
#include "base/clock.h"

namespace qelt {

class HttpSessionFactory;
class HttpRequestFactory;
class SharedFileFactory;
class PackageManifestFactory;
class NodeListManifestFactory;
class TransferManager;
class TransferOptimizer;
class EventManager;
class WorkLogManager;
class WorkManager;

// The environment of one transfer, copied into it at creation: the settings and the process-wide services. The
// services are owned by the composition root and outlive every transfer.
struct TransferBehavior {
    virtual ~TransferBehavior() = default;

    TransferSettings settings;
    HttpSessionFactory* httpSessionFactory = nullptr;
    HttpRequestFactory* httpRequestFactory = nullptr;
    SharedFileFactory* sharedFileFactory = nullptr;
    PackageManifestFactory* packageManifestFactory = nullptr;
    NodeListManifestFactory* nodeListManifestFactory = nullptr;
    TransferManager* transferManager = nullptr;
    TransferOptimizer* transferOptimizer = nullptr;
    EventManager* eventManager = nullptr;
    WorkLogManager* workLogManager = nullptr;
    WorkManager* workManager = nullptr;
    // Times the chunk requests; injected so that tests can make a request seem to take any time.
    MillisecondClock clock = SystemMillisecondClock();
};

}  // namespace qelt
