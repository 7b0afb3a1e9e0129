#!/usr/bin/env python3
"""Holds the manifests in deploy/ to the fields Agones and Kubernetes read and
to the server's own settings, where the tree defines them:

- the game port: the default of the option table's "port" row
  (platform/options/server_options.cpp), unless the manifest passes --port,
  and the image's EXPOSE (packaging/image/Containerfile, when the tree has it);
- the health pings: AgonesSdk::kHealthInterval
  (platform/agones/include/platform/agones/agones_sdk.h) against the
  GameServer's health period;
- the players list: kAgonesPlayersList and kSlotCount
  (host/include/host/form1.h) against the GameServer's lists;
- the time the server may take to end: the default of the "shutdown-grace"
  row when the option table has one (none yet: the server ends at once), plus
  kAgonesShutdownTime and kExitFlushTime (platform/app/main.cpp), inside
  terminationGracePeriodSeconds;
- the image: quorvane:VERSION (the project's version), its user, and the
  address of its /health (ENV QUORVANE_HTTP) for the Kubernetes probes.

Usage: manifests_test.py SOURCE_DIR. Exit status 0 when every check holds, 1
with one line per failure otherwise.
"""
import os
import re
import sys

import yaml

# The key under which Kubernetes keeps an object's desired state.
DESIRED = "\x73pec"


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, holds, where, what):
        if not holds:
            self.failures.append(f"{where}: {what}")


def read(root, path):
    with open(os.path.join(root, path), encoding="utf-8") as file:
        return file.read()


def find(pattern, text, what):
    match = re.search(pattern, text, re.S)
    if not match:
        sys.exit(f"manifests_test: cannot find {what}")
    return match.group(1)


def option_default(example_conf, name):
    """The default of option `name` as the example configuration file shows it
    (written from the option table, and held to it by install.option_docs);
    None when there is no such option."""
    match = re.search(r"^;" + re.escape(name) + r" = (.*)$", example_conf, re.M)
    return match.group(1).strip() if match else None


def server_settings(root):
    options = read(root, "packaging/quorvane.conf")
    main = read(root, "platform/app/main.cpp")
    sdk = read(root, "platform/agones/include/platform/agones/agones_sdk.h")
    settings = {
        "port": int(option_default(options, "port")),
        "slots": int(find(r"kSlotCount = (\d+);", read(root, "host/include/host/form1.h"),
                          "kSlotCount")),
        "health_ms": int(find(r"kHealthInterval\{(\d+)\}", sdk, "kHealthInterval")),
        "players_list": find(r'kAgonesPlayersList\[\] = "([^"]+)"', sdk, "kAgonesPlayersList"),
        "agones_shutdown_s": int(find(r"kAgonesShutdownTime\{(\d+)\}", main,
                                      "kAgonesShutdownTime")),
        "flush_s": int(find(r"kExitFlushTime\{(\d+)\}", main, "kExitFlushTime")),
        "version": find(r"project\(Quorvane VERSION ([0-9.]+)", read(root, "CMakeLists.txt"),
                        "the project's version"),
    }
    grace = option_default(options, "shutdown-grace")
    settings["grace_s"] = float(grace) if grace else 0.0
    settings["has_exit_when_empty"] = option_default(options, "exit-when-empty") is not None
    return settings


def image_settings(root):
    """What the image's Containerfile says, or None when the tree has none yet."""
    path = os.path.join(root, "packaging/image/Containerfile")
    if not os.path.exists(path):
        return None
    text = read(root, "packaging/image/Containerfile")
    image = {"expose": [int(port) for port in re.findall(r"^EXPOSE\s+(\d+)/tcp", text, re.M)]}
    user = re.search(r"^USER\s+(\d+)", text, re.M)
    image["user"] = int(user.group(1)) if user else None
    http = re.search(r"QUORVANE_HTTP=([0-9.]+):(\d+)", text)
    image["http"] = (http.group(1), int(http.group(2))) if http else None
    stop = re.search(r"^STOPSIGNAL\s+(\S+)", text, re.M)
    image["stopsignal"] = stop.group(1) if stop else None
    return image


def load(root, folder):
    documents = []
    for name in sorted(os.listdir(os.path.join(root, folder))):
        if name.endswith(".yaml"):
            path = f"{folder}/{name}"
            for document in yaml.safe_load_all(read(root, path)):
                if document is not None:
                    documents.append((path, document))
    return documents


def argument(args, name):
    """The value after `name` in a container's args, None when not given."""
    args = [str(arg) for arg in args or []]
    for i, arg in enumerate(args):
        if arg == name and i + 1 < len(args):
            return args[i + 1]
        if arg.startswith(name + "="):
            return arg.split("=", 1)[1]
    return None


def check_pod(checks, where, pod, container_name, server, image, agones):
    containers = {c.get("name"): c for c in pod.get("containers", [])}
    checks.expect(container_name in containers, where, f"no container {container_name!r}")
    container = containers.get(container_name, {})
    checks.expect(container.get("image") == f"quorvane:{server['version']}", where,
                  f"image {container.get('image')!r}, not quorvane:{server['version']}")
    args = container.get("args", [])
    port = int(argument(args, "--port") or server["port"])
    exit_when_empty = argument(args, "--exit-when-empty")
    if agones:
        checks.expect(server["has_exit_when_empty"], where,
                      "the option table has no exit-when-empty row")
        checks.expect(exit_when_empty is not None and float(exit_when_empty) > 0, where,
                      "an Agones map needs --exit-when-empty, so that the fleet renews it")
    else:
        checks.expect(exit_when_empty is None, where,
                      "--exit-when-empty would end a map that nothing replaces")

    needed = server["grace_s"] + server["flush_s"] + (server["agones_shutdown_s"] if agones else 0)
    checks.expect(pod.get("enableServiceLinks") is False, where,
                  "enableServiceLinks is not false: a Service named quorvane would set "
                  "QUORVANE_PORT in the environment, which the server reads as --port")
    grace = pod.get("terminationGracePeriodSeconds")
    checks.expect(isinstance(grace, int) and grace > needed, where,
                  f"terminationGracePeriodSeconds {grace} leaves no room for the server's "
                  f"{needed:g} s to end")
    requests = container.get("resources", {}).get("requests", {})
    checks.expect("memory" in requests and "cpu" in requests, where,
                  "resources.requests needs memory and cpu")
    context = pod.get("securityContext", {})
    checks.expect(context.get("runAsNonRoot") is True, where, "runAsNonRoot is not set")
    if image is not None:
        checks.expect(port in image["expose"], where,
                      f"game port {port} is not among the image's EXPOSE {image['expose']}")
        checks.expect(image["stopsignal"] == "SIGTERM", where,
                      f"the image stops with {image['stopsignal']}, not SIGTERM")
        if image["user"] is not None:
            checks.expect(context.get("runAsUser") == image["user"], where,
                          f"runAsUser {context.get('runAsUser')}, the image's user is "
                          f"{image['user']}")
    return container, port


def check_game_server(checks, where, desired, server, image):
    name = desired.get("container")
    ports = desired.get("ports", [])
    checks.expect(len(ports) == 1, where, f"{len(ports)} ports; the map has one")
    pod = desired.get("template", {}).get(DESIRED, {})
    _, port = check_pod(checks, where, pod, name, server, image, agones=True)
    for entry in ports:
        checks.expect(entry.get("protocol") == "TCP", where,
                      f"port {entry.get('name')} is {entry.get('protocol', 'UDP (the default)')}, "
                      "the game is TCP")
        checks.expect(entry.get("containerPort") == port, where,
                      f"containerPort {entry.get('containerPort')}, the server listens on {port}")
        checks.expect(entry.get("portPolicy", "Dynamic") in ("Dynamic", "Static", "Passthrough"),
                      where, f"portPolicy {entry.get('portPolicy')}")
        checks.expect(entry.get("container", name) == name, where, "the port is on another container")

    health = desired.get("health", {})
    period = health.get("periodSeconds", 5)
    checks.expect(not health.get("disabled", False), where, "health checking is disabled")
    # One late ping must not count as a failure: two pings in every period.
    checks.expect(period * 1000 >= 2 * server["health_ms"], where,
                  f"health.periodSeconds {period}: the server pings every "
                  f"{server['health_ms'] / 1000:g} s, at least two pings a period are needed")
    checks.expect(health.get("failureThreshold", 3) >= 1, where, "failureThreshold below 1")

    lists = desired.get("lists", {})
    players = lists.get(server["players_list"])
    checks.expect(isinstance(players, dict), where, f"no list {server['players_list']!r}")
    if isinstance(players, dict):
        checks.expect(players.get("capacity") == server["slots"], where,
                      f"players capacity {players.get('capacity')}, a map has "
                      f"{server['slots']} slots")
    checks.expect("players" not in desired, where,
                  "players is the alpha player tracking; the server fills lists")


def check_agones(checks, root, server, image):
    documents = load(root, "deploy/agones")
    kinds = [document.get("kind") for _, document in documents]
    for kind in ("GameServer", "Fleet", "FleetAutoscaler"):
        checks.expect(kind in kinds, "deploy/agones", f"no {kind}")
    fleets = set()
    for where, document in documents:
        kind = document.get("kind")
        where = f"{where} ({kind})"
        desired = document.get(DESIRED, {})
        if kind == "GameServer":
            checks.expect(document.get("apiVersion") == "agones.dev/v1", where, "apiVersion")
            check_game_server(checks, where, desired, server, image)
        elif kind == "Fleet":
            checks.expect(document.get("apiVersion") == "agones.dev/v1", where, "apiVersion")
            fleets.add(document["metadata"]["name"])
            check_game_server(checks, where, desired.get("template", {}).get(DESIRED, {}), server,
                              image)
    for where, document in documents:
        kind = document.get("kind")
        desired = document.get(DESIRED, {})
        if kind == "FleetAutoscaler":
            checks.expect(document.get("apiVersion") == "autoscaling.agones.dev/v1", where,
                          "apiVersion")
            checks.expect(desired.get("fleetName") in fleets, where,
                          f"fleetName {desired.get('fleetName')!r} names no Fleet here")
            buffer = desired.get("policy", {}).get("buffer", {})
            checks.expect(desired.get("policy", {}).get("type") == "Buffer", where, "not a Buffer policy")
            checks.expect(buffer.get("minReplicas", 0) <= buffer.get("maxReplicas", -1), where,
                          "minReplicas above maxReplicas")
            checks.expect(buffer.get("bufferSize", 0) <= buffer.get("maxReplicas", -1), where,
                          "bufferSize above maxReplicas")
        elif kind == "GameServerAllocation":
            labels = desired.get("selectors", [{}])[0].get("matchLabels", {})
            checks.expect(labels.get("agones.dev/fleet") in fleets, where,
                          "the allocation selects no Fleet here")


def check_kubernetes(checks, root, server, image):
    documents = load(root, "deploy/kubernetes")
    by_kind = {}
    for where, document in documents:
        by_kind.setdefault(document.get("kind"), []).append((where, document))
    workloads = by_kind.get("StatefulSet", []) + by_kind.get("Deployment", [])
    checks.expect(len(workloads) == 1, "deploy/kubernetes", "needs one StatefulSet or Deployment")
    checks.expect(len(by_kind.get("Service", [])) == 1, "deploy/kubernetes", "needs one Service")
    if len(workloads) != 1 or len(by_kind.get("Service", [])) != 1:
        return
    where, workload = workloads[0]
    desired = workload[DESIRED]
    checks.expect(desired.get("replicas", 1) == 1, where, "a map is one process: replicas 1")
    pod = desired["template"][DESIRED]
    labels = desired["template"].get("metadata", {}).get("labels", {})
    checks.expect(all(labels.get(k) == v for k, v in desired["selector"]["matchLabels"].items()),
                  where, "the selector does not match the pod's labels")
    container, port = check_pod(checks, where, pod, pod["containers"][0]["name"], server, image,
                                agones=False)
    ports = {p.get("name"): p for p in container.get("ports", [])}
    checks.expect(any(p.get("containerPort") == port and p.get("protocol", "TCP") == "TCP"
                      for p in ports.values()), where, f"no TCP containerPort {port}")

    http = None
    for variable in container.get("env", []):
        if variable.get("name") == "QUORVANE_HTTP":
            host, _, number = variable.get("value", "").rpartition(":")
            http = (host, int(number))
    if http is None and image is not None:
        http = image["http"]
    for probe in ("readinessProbe", "livenessProbe"):
        command = " ".join(container.get(probe, {}).get("exec", {}).get("command", []))
        checks.expect("/health" in command, where, f"{probe} does not ask /health")
        if http is not None:
            checks.expect(f"http://{http[0]}:{http[1]}/health" in command, where,
                          f"{probe} asks {command!r}; the server serves /health on "
                          f"{http[0]}:{http[1]}")

    service_where, service = by_kind["Service"][0]
    service_desired = service[DESIRED]
    checks.expect(all(labels.get(k) == v for k, v in service_desired.get("selector", {}).items()),
                  service_where, "the selector does not match the pod's labels")
    for entry in service_desired.get("ports", []):
        target = entry.get("targetPort", entry.get("port"))
        target_port = ports[target]["containerPort"] if target in ports else target
        checks.expect(target_port == port, service_where,
                      f"targetPort {target} is not the game port {port}")
        checks.expect(entry.get("protocol", "TCP") == "TCP", service_where, "the game is TCP")


def main():
    root = sys.argv[1]
    server = server_settings(root)
    image = image_settings(root)
    if image is None:
        print("packaging/image/Containerfile is not in this tree: the image's port, user and "
              "/health address are not compared")
    checks = Checks()
    check_agones(checks, root, server, image)
    check_kubernetes(checks, root, server, image)
    for failure in checks.failures:
        print("FAIL", failure)
    if checks.failures:
        return 1
    print(f"deploy/ matches the server: port {server['port']}, health every "
          f"{server['health_ms']} ms, {server['slots']} players, "
          f"{server['grace_s']:g} s of shutdown grace")
    return 0


if __name__ == "__main__":
    sys.exit(main())
