#!/usr/bin/python3
"""mbus-bridge as a program against a real MQTT broker.

Each test runs Debian's mosquitto on a free port of 127.0.0.1 with a
configuration of its own, mbus-sim as the bus (behind a --link, so that it
can be killed and started again like a converter that is unplugged), the
bridge with a configuration written for the test, and a paho subscriber
that records every message with its retained flag and when it came.

The programs come from the environment CMake gives the test: MBUS_BRIDGE,
MBUS_SIM, MBUS_CONTROL_LIBRARY (paths) and MBUS_SOURCE_DIR. Every wait polls
for its condition up to WAIT seconds: the sanitizer builds are several times
slower, and a bound that is never reached costs nothing.
"""

import getpass
import json
import os
import re
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
from collections import namedtuple
from pathlib import Path

import paho.mqtt.client as mqtt

BRIDGE = os.environ.get("MBUS_BRIDGE", "")
SIM = os.environ.get("MBUS_SIM", "")
LIBRARY = os.environ.get("MBUS_CONTROL_LIBRARY", "")
SOURCE_DIR = Path(os.environ.get("MBUS_SOURCE_DIR", Path(__file__).resolve().parents[3]))
MOSQUITTO = "/usr/sbin/mosquitto"
SCHEMA = SOURCE_DIR / "docs" / "mbus-bridge-state.schema.json"
WAIT = float(os.environ.get("MBUS_BRIDGE_TEST_WAIT", "90"))

EXIT_BAD_CONFIGURATION = 78
EXIT_BAD_USAGE = 2
SANITIZER_REPORT = re.compile(r"WARNING: ThreadSanitizer|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:")

# Slaves of the demo bus by primary address, as sim/demo/meters.txt has them.
DEMO_FILE = SOURCE_DIR / "sim" / "demo" / "meters.txt"
# Slaves of the smaller tests: a heat, a water and an electricity meter.
HEAT = "primary=1 id=11111111 man=QXB version=14 medium=04 records=0C06114700000A5A5505"
WATER = "primary=2 id=22222222 man=QXA version=01 medium=07 records=0C1378563412"
ELECTRICITY = "primary=3 id=33333333 man=ZZW version=02 medium=02 records=0403E8030000"
# A heat meter answering in three telegrams: 4711 kWh, 6.789 m³, 55.5 °C.
THREE_TELEGRAMS = ("primary=9 id=12349999 man=QXB medium=04 records=0C0611470000 records=0C1389670000 "
                   "records=0A5A5505")

Message = namedtuple("Message", "topic payload retain at")


def with_parent(args):
    """args run so that the kernel kills the program when the test runner
    ends: CTest kills a test at its timeout, and its children must go too."""
    return ["/usr/bin/setpriv", "--pdeathsig", "KILL", "--", *args]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, what, timeout=WAIT, details=lambda: "", alive=lambda: None):
    """Polls condition() until it gives something true, which it returns.
    alive() names a process that has ended when the wait cannot succeed."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        dead = alive()
        if dead:
            raise AssertionError(f"{what}: {dead}\n{details()}")
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not within {timeout:.0f} s\n{details()}")
        time.sleep(0.1)


class Broker:
    """mosquitto with a configuration of its own; its log goes to a file."""

    def __init__(self, directory, secured=""):
        """secured: the settings of a second listener, which gets a port
        of its own (self.secured_port), with a configuration per listener."""
        self.port = free_port()
        self.secured_port = free_port() if secured else None
        self.config = directory / "mosquitto.conf"
        self.log = directory / "mosquitto.log"
        text = ("per_listener_settings true\n" if secured else "") + \
            f"listener {self.port} 127.0.0.1\nallow_anonymous true\npersistence false\n" \
            "log_dest stderr\nconnection_messages true\n" \
            f"user {getpass.getuser()}\n"  # as the test's own user, which keeps the parent-death signal
        if secured:
            text += f"listener {self.secured_port} 127.0.0.1\n{secured}"
        self.config.write_text(text)
        self.process = None

    def start(self):
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen(with_parent([MOSQUITTO, "-c", str(self.config)]),
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=log)

        def accepting():
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                return False

        wait_until(accepting, f"mosquitto on 127.0.0.1:{self.port}", details=self.log.read_text,
                   alive=lambda: self.process.poll() is not None and f"exited with {self.process.returncode}")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def connections_of(self, client_id):
        return self.log.read_text(errors="replace").count(f" as {client_id} ")


class Subscriber:
    """A paho client subscribed to everything; it keeps each message."""

    def __init__(self, port, name):
        self._lock = threading.Lock()
        self._messages = []
        self._subscribed = threading.Event()
        if hasattr(mqtt, "CallbackAPIVersion"):
            self.client = mqtt.Client(mqtt.CallbackAPIVersion.VERSION1, client_id=name)
        else:
            self.client = mqtt.Client(client_id=name)
        self.client.on_connect = lambda c, userdata, flags, rc: c.subscribe("#", qos=1)
        self.client.on_subscribe = lambda *args: self._subscribed.set()
        self.client.on_message = self._keep
        self.client.connect("127.0.0.1", port, keepalive=30)
        self.client.loop_start()
        if not self._subscribed.wait(WAIT):
            self.close()
            raise AssertionError(f"subscriber {name}: no subscription at 127.0.0.1:{port} within {WAIT:.0f} s")

    def _keep(self, client, userdata, message):
        m = Message(message.topic, message.payload.decode("utf-8", "replace"), bool(message.retain), time.monotonic())
        with self._lock:
            self._messages.append(m)

    def messages(self, topic=None, since=0.0):
        with self._lock:
            return [m for m in self._messages if (topic is None or m.topic == topic) and m.at > since]

    def last(self, topic):
        found = self.messages(topic)
        return found[-1] if found else None

    def publish(self, topic, payload):
        self.client.publish(topic, payload, qos=1).wait_for_publish()

    def summary(self):
        lines = [f"{m.topic} {'(retained) ' if m.retain else ''}{m.payload[:160]}" for m in self.messages()]
        return "messages seen (the last 40):\n  " + "\n  ".join(lines[-40:])

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


class Sim:
    """mbus-sim behind a link: kill() unplugs the converter, start() plugs it in."""

    def __init__(self, directory, link_name="bus"):
        self.directory = directory
        self.link = directory / link_name
        self.process = None
        self.starts = 0

    def start(self, *slaves, demo=False, options=()):
        self.starts += 1
        out = self.directory / f"{self.link.name}-sim{self.starts}.out"
        err = self.directory / f"{self.link.name}-sim{self.starts}.err"
        args = [SIM, "--unpaced", "--link", str(self.link)]
        args += ["--file", str(DEMO_FILE)] if demo else []
        for slave in slaves:
            args += ["--slave", slave]
        args += list(options)
        with open(out, "wb") as o, open(err, "wb") as e:
            self.process = subprocess.Popen(with_parent(args), stdin=subprocess.DEVNULL, stdout=o, stderr=e)
        wait_until(lambda: "\n" in out.read_text(), f"mbus-sim on {self.link}", details=err.read_text,
                   alive=lambda: self.process.poll() is not None and f"exited with {self.process.returncode}")

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Bridge:
    """The program with a configuration file written for the test."""

    def __init__(self, directory):
        self.directory = directory
        self.config = directory / "bridge.toml"
        self.log = directory / "bridge.log"
        self.process = None

    def start(self, *args):
        tmp = self.directory / "tmp"
        tmp.mkdir(exist_ok=True)
        env = dict(os.environ, MBUS_CONTROL_LIBRARY=LIBRARY, TMPDIR=str(tmp))
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen(with_parent([BRIDGE, "--config", str(self.config), "--verbose", *args]),
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env)

    def run(self, *args):
        """Runs it to its end (for --check and refused files): exit code and output."""
        env = dict(os.environ, MBUS_CONTROL_LIBRARY=LIBRARY)
        done = subprocess.run(with_parent([BRIDGE, *args]), stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              env=env, timeout=WAIT)
        return done.returncode, done.stdout + done.stderr

    def text(self):
        return self.log.read_text(errors="replace") if self.log.exists() else ""

    def ended(self):
        if self.process and self.process.poll() is not None:
            return f"the bridge exited with {self.process.returncode}"
        return None

    def stop(self):
        """SIGTERM (when it still runs); the exit code."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(WAIT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                raise AssertionError(f"the bridge did not end within {WAIT:.0f} s of SIGTERM\n{self.text()[-3000:]}")
        return self.process.returncode


def toml_config(port, buses, offline_after=2, client_id="bridge-under-test", qos=1):
    """buses: [(name, device, interval, [(address, name), ...])]; a bus
    without meters searches by secondary address."""
    lines = ["[mqtt]", 'host = "127.0.0.1"', f"port = {port}", f'client_id = "{client_id}"', f"qos = {qos}",
             "keepalive = 10", "", "[bridge]", f"offline_after = {offline_after}", ""]
    for name, device, interval, meters in buses:
        lines += ["[[bus]]", f'name = "{name}"', f'device = "{device}"', f"interval = {interval}"]
        lines += [] if meters else ['scan = "secondary"']
        lines += [""]
        for address, meter in meters:
            lines += ["[[bus.meter]]", f'address = "{address}"', f'name = "{meter}"', ""]
    return "\n".join(lines)


class Setup:
    """What a test starts, stopped again (also on failure) in reverse order."""

    def __init__(self, add_cleanup, secured=None):
        """secured(directory) gives the settings of a second listener."""
        self._add_cleanup = add_cleanup
        temp = tempfile.TemporaryDirectory(prefix="bridge-broker-test-")
        add_cleanup(temp.cleanup)
        self.directory = Path(temp.name)
        self.broker = Broker(self.directory, secured(self.directory) if secured else "")
        add_cleanup(self.broker.stop)
        self.broker.start()
        self.sims = {}
        self.bridge = Bridge(self.directory)
        self.subscriber = self.subscribe("watcher")

    def subscribe(self, name):
        s = Subscriber(self.broker.port, name)
        self._add_cleanup(s.close)
        return s

    def sim(self, *slaves, link="bus", demo=False, options=()):
        sim = Sim(self.directory, link)
        self._add_cleanup(sim.kill)
        sim.start(*slaves, demo=demo, options=options)
        self.sims[link] = sim
        return sim

    def start_bridge(self, buses, mqtt_lines="", port=None, **options):
        """mqtt_lines: more keys of [mqtt]; port: the broker's port to use."""
        text = toml_config(port or self.broker.port, buses, **options)
        self.bridge.config.write_text(text.replace("[mqtt]\n", "[mqtt]\n" + mqtt_lines, 1))
        self.bridge.start()
        self._add_cleanup(self._bridge_left_no_sanitizer_report)
        self._add_cleanup(self._stop_bridge)

    def _stop_bridge(self):
        # One still running at the test's end must stop as SIGTERM asks.
        if self.bridge.process.poll() is None and self.bridge.stop() != 0:
            raise AssertionError(f"the bridge exited with {self.bridge.process.returncode} on SIGTERM:\n"
                                 f"{self.bridge.text()[-3000:]}")

    def _bridge_left_no_sanitizer_report(self):
        if SANITIZER_REPORT.search(self.bridge.text()):
            raise AssertionError(f"the bridge's log holds a sanitizer report:\n{self.bridge.text()[-6000:]}")

    def details(self):
        return f"{self.subscriber.summary()}\nbridge log (the end):\n{self.bridge.text()[-3000:]}"

    def wait(self, condition, what, subscriber=None, running=True):
        """Polls condition(); with `running`, a bridge that ended fails the wait at once."""
        s = subscriber or self.subscriber
        details = self.details if s is self.subscriber else lambda: f"{s.summary()}\n{self.details()}"
        return wait_until(condition, what, details=details, alive=self.bridge.ended if running else lambda: None)

    # Conditions on what a subscriber saw.
    def payload_after(self, topic, payload, since=0.0, subscriber=None, running=True):
        s = subscriber or self.subscriber
        return self.wait(lambda: [m for m in s.messages(topic, since) if m.payload == payload],
                         f'"{payload}" on {topic}', subscriber, running)[0]

    def states(self, meter, since=0.0, subscriber=None):
        s = subscriber or self.subscriber
        return [json.loads(m.payload) for m in s.messages(f"mbus/{meter}/state", since) if m.payload]

    def state_after(self, meter, since=0.0, subscriber=None):
        s = subscriber or self.subscriber
        return self.wait(lambda: self.states(meter, since, s), f"a state of {meter}", subscriber)[-1]

    def info_after(self, bus, online, since=0.0):
        def matching():
            for m in self.subscriber.messages("mbus/bridge/info", since):
                if any(b.get("name") == bus and b.get("online") is online for b in json.loads(m.payload)["buses"]):
                    return m
            return None
        return self.wait(matching, f'bridge info with bus {bus} "online": {str(online).lower()}')


def discovery_configs(subscriber, secondary=None):
    """Discovery topic -> its last payload (JSON, or None when emptied)."""
    found = {}
    for m in subscriber.messages():
        parts = m.topic.split("/")
        if len(parts) == 5 and parts[0] == "homeassistant" and parts[1] == "sensor" and parts[4] == "config":
            if secondary is None or parts[2].lower() == "mbus_" + secondary.lower():
                found[m.topic] = json.loads(m.payload) if m.payload else None
    return found


def field_of(config):
    """The state payload's flat field a discovery config's value template reads."""
    match = re.search(r"fields(?:\.(\w+)|\[['\"]([^'\"]+)['\"]\])", config.get("value_template", ""))
    return (match.group(1) or match.group(2)) if match else None


# Home Assistant's units by device class, and the state classes that fit.
UNITS = {
    "energy": ({"Wh", "kWh", "MWh", "GJ", "MJ"}, {"total", "total_increasing"}),
    "water": ({"L", "m³", "ft³", "gal", "CCF"}, {"total", "total_increasing"}),
    "gas": ({"m³", "ft³", "CCF"}, {"total", "total_increasing"}),
    "volume": ({"L", "mL", "m³", "ft³", "gal"}, {"total", "total_increasing", "measurement"}),
    "temperature": ({"°C", "°F", "K"}, {"measurement"}),
    "power": ({"W", "kW"}, {"measurement"}),
    "volume_flow_rate": ({"m³/h", "L/min", "ft³/min", "gal/min"}, {"measurement"}),
    "duration": ({"s", "min", "h", "d"}, {"measurement", "total", "total_increasing"}),
    "timestamp": ({None}, {None}),
    "date": ({None}, {None}),
}

# Demo-bus meters by primary address: a value of their readout in the natural
# unit, and the sensor it must get (device class, unit, state class).
DEMO_SENSORS = [
    # heat meter: energy, volume, flow and return temperature
    (2, 4711, "energy", "kWh", "total_increasing"),
    (2, 55.5, "temperature", "°C", "measurement"),
    (2, 32.0, "temperature", "°C", "measurement"),
    # water meter
    (1, 12345.678, "water", "m³", "total_increasing"),
    # electricity meter
    (3, 1, "energy", "kWh", "total_increasing"),
    # gas meter
    (4, 4.125, "gas", "m³", "total_increasing"),
    # the heat meter of two telegrams: a value of each
    (7, 9999, "energy", "kWh", "total_increasing"),
    (7, 3.412, None, "m³", "total_increasing"),
]


class DemoBus(unittest.TestCase):
    """The ten meters of the demo bus read once; what the broker holds then."""

    @classmethod
    def setUpClass(cls):
        cls.s = Setup(cls.addClassCleanup)
        sim = cls.s.sim(demo=True)
        cls.names = {p: f"meter-{p}" for p in range(1, 11)}
        cls.s.start_bridge([("demo", sim.link, 5, [(str(p), n) for p, n in cls.names.items()])])
        for name in cls.names.values():
            cls.s.state_after(name)
        cls.state = {p: cls.s.states(n)[-1] for p, n in cls.names.items()}
        # Discovery configs follow a meter's first state; wait for each meter's.
        for p in cls.names:
            cls.s.wait(lambda: discovery_configs(cls.s.subscriber, cls.state[p]["secondaryAddress"]),
                       f"discovery configs of {cls.names[p]}")

    def configs(self, primary):
        return discovery_configs(self.s.subscriber, self.state[primary]["secondaryAddress"])

    def test_states_follow_the_schema(self):
        if not SCHEMA.exists():
            self.skipTest(f"{SCHEMA} is not there yet: state payloads not checked against it")
        import jsonschema
        schema = json.loads(SCHEMA.read_text())
        validator = jsonschema.validators.validator_for(schema)
        validator.check_schema(schema)
        for primary, state in self.state.items():
            with self.subTest(meter=self.names[primary]):
                errors = [f"{'/'.join(map(str, e.path))}: {e.message}" for e in validator(schema).iter_errors(state)]
                self.assertEqual(errors, [], json.dumps(state))

    def test_states_carry_the_readouts(self):
        for primary, state in self.state.items():
            with self.subTest(meter=self.names[primary]):
                self.assertEqual(state["name"], self.names[primary])
                self.assertRegex(state["secondaryAddress"], r"^[0-9A-Fa-f]{16}$")
                self.assertTrue(state["records"], json.dumps(state))
                self.assertTrue(state["fields"], json.dumps(state))
        # The identification numbers lead the secondary addresses.
        with open(DEMO_FILE) as f:
            ids = dict(re.findall(r"^primary=(\d+) id=(\d+)", f.read(), re.M))
        for primary, state in self.state.items():
            self.assertEqual(state["secondaryAddress"][:8], ids[str(primary)].zfill(8))
        # The values of both telegrams of meter 7 reach its one state.
        values = set(self.state[7]["fields"].values())
        self.assertTrue({9999, 3.412} <= values, json.dumps(self.state[7]))

    def test_every_sensor_has_a_class_its_unit_fits(self):
        classes = set()
        for primary in self.names:
            for topic, config in self.configs(primary).items():
                with self.subTest(topic=topic):
                    self.assertIsNotNone(config)
                    device_class = config.get("device_class")
                    classes.add(device_class)
                    field = field_of(config)
                    self.assertIn(field, self.state[primary]["fields"], json.dumps(config))
                    self.assertEqual(topic.split("/")[3], field)
                    self.assertEqual(config["state_topic"], f"mbus/{self.names[primary]}/state")
                    availability = {a["topic"] for a in config.get("availability", [])}
                    self.assertEqual(availability, {"mbus/bridge/availability", f"mbus/{self.names[primary]}/availability"})
                    if device_class is not None:
                        units, state_classes = UNITS[device_class]
                        self.assertIn(config.get("unit_of_measurement"), units, json.dumps(config))
                        self.assertIn(config.get("state_class"), state_classes, json.dumps(config))
        self.assertTrue({"energy", "water", "gas", "temperature", "timestamp"} <= classes, classes)

    def test_heat_water_gas_and_electricity_meters_get_their_classes(self):
        for primary, value, device_class, unit, state_class in DEMO_SENSORS:
            with self.subTest(meter=self.names[primary], value=value):
                fields = self.state[primary]["fields"]
                sensors = [c for c in self.configs(primary).values() if c and fields.get(field_of(c)) == value]
                self.assertEqual(len(sensors), 1, f"{fields}\n{self.configs(primary)}")
                config = sensors[0]
                if device_class is None:  # a heat meter's volume: volume or water
                    self.assertIn(config.get("device_class"), {"volume", "water"})
                else:
                    self.assertEqual(config.get("device_class"), device_class)
                self.assertEqual(config.get("unit_of_measurement"), unit)
                self.assertEqual(config.get("state_class"), state_class)

    def test_a_later_subscriber_gets_the_retained_topics(self):
        late = self.s.subscribe("late")
        expected = {"mbus/bridge/availability", "mbus/bridge/info"}
        for primary, name in self.names.items():
            expected |= {f"mbus/{name}/state", f"mbus/{name}/availability"} | set(self.configs(primary))

        def retained():
            return {m.topic for m in late.messages() if m.retain}

        self.s.wait(lambda: expected <= retained(), "the retained topics", late)
        self.assertEqual(late.last("mbus/bridge/availability").payload, "online")
        info = json.loads(late.last("mbus/bridge/info").payload)
        self.assertIn("version", info)
        self.assertEqual(len(info["buses"]), 1, info)
        bus = info["buses"][0]
        self.assertEqual((bus.get("name"), bus.get("device"), bus.get("online"), bus.get("meters")),
                         ("demo", str(self.s.sims["bus"].link), True, 10), info)
        self.assertEqual(sorted(info["meters"]), sorted(self.names.values()))
        for name in self.names.values():
            self.assertEqual(late.last(f"mbus/{name}/availability").payload, "online")

    def test_discovery_is_published_again_when_home_assistant_comes_online(self):
        topics = set().union(*(self.configs(p) for p in self.names))
        since = time.monotonic()
        self.s.subscriber.publish("homeassistant/status", "online")
        self.s.wait(lambda: topics <= {m.topic for m in self.s.subscriber.messages(since=since) if m.payload},
                    "every discovery config again after homeassistant/status \"online\"")


class BrokerAndBus(unittest.TestCase):
    """One bridge each: its broker, its bus and its configuration on the way."""

    def setUp(self):
        self.s = Setup(self.addCleanup)

    def start(self, slaves, meters, interval=1, **options):
        sim = self.s.sim(*slaves)
        self.s.start_bridge([("b1", sim.link, interval, meters)], **options)
        self.s.payload_after("mbus/bridge/availability", "online")
        return sim

    def test_sigterm_publishes_offline_and_exits_0(self):
        self.start([HEAT], [("1", "heat")])
        self.s.state_after("heat")
        since = time.monotonic()
        self.assertEqual(self.s.bridge.stop(), 0, self.s.bridge.text())
        self.s.payload_after("mbus/bridge/availability", "offline", since, running=False)
        late = self.s.subscribe("late")
        retained = self.s.wait(lambda: late.last("mbus/bridge/availability"), "the bridge's availability, retained",
                               late, running=False)
        self.assertEqual((retained.payload, retained.retain), ("offline", True))

    def test_a_killed_bridge_leaves_its_last_will(self):
        self.start([HEAT], [("1", "heat")])
        self.s.state_after("heat")
        since = time.monotonic()
        self.s.bridge.process.kill()
        self.s.payload_after("mbus/bridge/availability", "offline", since, running=False)
        late = self.s.subscribe("late")
        retained = self.s.wait(lambda: late.last("mbus/bridge/availability"), "the will, retained", late,
                               running=False)
        self.assertEqual((retained.payload, retained.retain), ("offline", True))

    def test_broker_restarted_under_a_running_bridge(self):
        # A round an hour: a state after the restart is the one the bridge
        # kept, published again, not a new reading.
        self.start([HEAT], [("1", "heat")], interval=3600)
        before = self.s.state_after("heat")
        self.s.broker.stop()
        self.s.broker.start()
        late = self.s.subscribe("after-restart")
        self.s.payload_after("mbus/bridge/availability", "online", subscriber=late)
        again = self.s.state_after("heat", subscriber=late)
        self.assertEqual(again["readAt"], before["readAt"])
        self.assertEqual(again["fields"], before["fields"])
        self.assertEqual(self.s.broker.connections_of("bridge-under-test"), 2, self.s.broker.log.read_text())

    def test_a_read_command_reads_at_once(self):
        # A round an hour: a second state can only come from the command.
        self.start([HEAT, WATER], [("1", "heat"), ("2", "water")], interval=3600)
        self.s.state_after("heat")
        self.s.state_after("water")
        for command, meters in (("water", {"water"}), ("all", {"heat", "water"})):
            with self.subTest(command=command):
                since = time.monotonic()
                self.s.subscriber.publish("mbus/command/read", command)
                for meter in meters:
                    self.s.state_after(meter, since)
                for meter in {"heat", "water"} - meters:
                    self.assertEqual(self.s.states(meter, since), [], f"{meter} read on \"{command}\"")

    def test_a_scan_command_finds_a_meter_added_to_the_bus(self):
        sim = self.start([HEAT], [])
        self.s.wait(lambda: self.states_of("11111111"), "a state of the heat meter the search found")
        sim.kill()
        sim.start(HEAT, WATER)
        self.assertEqual(self.states_of("22222222"), [])
        self.s.subscriber.publish("mbus/command/scan", "b1")
        water = self.s.wait(lambda: self.states_of("22222222"), "a state of the water meter after the scan")[-1]
        self.assertEqual(water["name"], water["secondaryAddress"])

    def states_of(self, identification):
        """The states of the meter with this identification, whatever its topic."""
        return [json.loads(m.payload) for m in self.s.subscriber.messages()
                if m.topic.endswith("/state") and m.payload and
                json.loads(m.payload).get("identification") == identification]

    def test_a_converter_unplugged_and_plugged_in_again(self):
        sim = self.start([HEAT], [("1", "heat")])
        self.s.state_after("heat")
        self.s.info_after("b1", True)
        unplugged = time.monotonic()
        sim.kill()
        self.s.info_after("b1", False, unplugged)
        self.s.payload_after("mbus/heat/availability", "offline", unplugged)
        plugged = time.monotonic()
        sim.start(HEAT)
        self.s.info_after("b1", True, plugged)
        self.s.payload_after("mbus/heat/availability", "online", plugged)
        self.s.state_after("heat", plugged)

    def test_a_meter_that_stops_answering_and_returns(self):
        sim = self.start([HEAT, WATER], [("1", "heat"), ("2", "water")])
        self.s.state_after("heat")
        self.s.state_after("water")
        sim.kill()
        gone = time.monotonic()
        sim.start(HEAT)
        self.s.payload_after("mbus/water/availability", "offline", gone)
        self.s.state_after("heat", gone)
        self.s.wait(lambda: getattr(self.s.subscriber.last("mbus/heat/availability"), "payload", "") == "online",
                    "the meter that answers online")
        sim.kill()
        back = time.monotonic()
        sim.start(HEAT, WATER)
        self.s.payload_after("mbus/water/availability", "online", back)
        self.s.state_after("water", back)

    def test_a_noisy_line_never_gets_a_partial_readout_published(self):
        # A third of the answers garbled or lost: reads fail, and every state
        # that goes out, by primary and by secondary address, holds all three
        # telegrams of the meter.
        sim = self.s.sim(THREE_TELEGRAMS, options=["--random-faults", "0.33:7"])
        self.s.start_bridge([("b1", sim.link, 1, [("9", "by-primary"), ("12349999", "by-secondary")])])
        for meter in ("by-primary", "by-secondary"):
            self.s.wait(lambda: len(self.s.states(meter)) >= 4, f"four states of {meter}")
        for meter in ("by-primary", "by-secondary"):
            for state in self.s.states(meter):
                self.assertTrue({4711, 6.789, 55.5} <= set(state["fields"].values()), json.dumps(state))
        self.assertRegex(self.s.bridge.text(), r"incomplete|did not answer|several slaves|not acknowledged",
                         "no read failed: the faults did not reach the reads")

    def test_sighup_with_a_good_file_deletes_a_removed_meter_and_reads_an_added_one(self):
        sim = self.start([HEAT, WATER, ELECTRICITY], [("1", "heat"), ("2", "water")])
        removed = self.s.state_after("water")["secondaryAddress"]
        self.s.state_after("heat")
        configs = self.s.wait(lambda: discovery_configs(self.s.subscriber, removed), "the water meter's discovery")
        self.s.bridge.config.write_text(toml_config(self.s.broker.port, [("b1", sim.link, 1, [("1", "heat"),
                                                                                             ("3", "power")])]))
        since = time.monotonic()
        self.s.bridge.process.send_signal(signal.SIGHUP)
        added = self.s.state_after("power", since)
        self.s.state_after("heat", since)
        self.s.wait(lambda: all(self.s.subscriber.messages(t, since) and self.s.subscriber.last(t).payload == ""
                                for t in configs), "empty discovery configs of the removed meter")
        late = self.s.subscribe("late")
        self.s.wait(lambda: discovery_configs(late, added["secondaryAddress"]), "the added meter's discovery", late)
        self.assertEqual(discovery_configs(late, removed), {})
        self.assertIsNone(late.last("mbus/water/state"))
        self.assertEqual([m.payload for m in self.s.subscriber.messages("mbus/bridge/availability", since)
                          if m.payload != "online"], [])
        self.assertEqual(self.s.broker.connections_of("bridge-under-test"), 1, self.s.broker.log.read_text())

    def test_sighup_with_a_bad_file_keeps_the_old_configuration(self):
        self.start([HEAT], [("1", "heat")])
        self.s.state_after("heat")
        text = self.s.bridge.config.read_text().replace("interval = 1", "interval = 0")
        self.s.bridge.config.write_text(text)
        since = time.monotonic()
        self.s.bridge.process.send_signal(signal.SIGHUP)
        line = text.splitlines().index("interval = 0") + 1
        self.s.wait(lambda: f"{self.s.bridge.config}:{line}:" in self.s.bridge.text(), "the log naming the bad line")
        self.assertIn("interval", self.s.bridge.text()[-2000:])
        self.s.wait(lambda: len(self.s.states("heat", since)) >= 2, "readings going on")
        self.assertEqual(self.s.bridge.stop(), 0, self.s.bridge.text())


def tls_and_password(directory):
    """A CA and a certificate of the broker for 127.0.0.1 made with openssl,
    and a password file of the user "meter-reader": a listener's settings."""
    def run(*args):
        subprocess.run(args, cwd=directory, check=True, capture_output=True, timeout=60)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
        "-subj", "/CN=bridge test CA", "-days", "2")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "broker.key", "-out", "broker.csr",
        "-subj", "/CN=127.0.0.1")
    (directory / "san.ext").write_text("subjectAltName=IP:127.0.0.1\n")
    run("openssl", "x509", "-req", "-in", "broker.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
        "-out", "broker.crt", "-days", "2", "-extfile", "san.ext")
    run("mosquitto_passwd", "-c", "-b", "passwd", "meter-reader", "right horse battery")
    (directory / "passwd").chmod(0o600)
    return (f"allow_anonymous false\npassword_file {directory / 'passwd'}\ncafile {directory / 'ca.crt'}\n"
            f"certfile {directory / 'broker.crt'}\nkeyfile {directory / 'broker.key'}\n")


class SecuredBroker(unittest.TestCase):
    """A listener with TLS by the broker's own CA, a user and a password;
    the test's subscriber listens on the other, open one."""

    def setUp(self):
        self.s = Setup(self.addCleanup, secured=tls_and_password)

    def start(self, password):
        secret = self.s.directory / "secret"
        secret.write_text(password + "\n")
        secret.chmod(0o600)
        sim = self.s.sim(HEAT)
        self.s.start_bridge([("b1", sim.link, 1, [("1", "heat")])], port=self.s.broker.secured_port,
                            mqtt_lines=f'tls = true\nca_file = "{self.s.directory / "ca.crt"}"\n'
                                       f'username = "meter-reader"\npassword_file = "{secret}"\n')

    def test_tls_with_a_user_and_a_password_from_a_file(self):
        self.start("right horse battery")
        self.s.state_after("heat")
        self.assertEqual(self.s.subscriber.last("mbus/bridge/availability").payload, "online")

    def test_a_wrong_password_is_reported_and_nothing_published(self):
        self.start("wrong horse")
        self.s.wait(lambda: "refused the connection" in self.s.bridge.text(), "the refusal in the bridge's log")
        self.assertIn("not authori", self.s.bridge.text().lower())
        self.assertEqual(self.s.subscriber.messages("mbus/heat/state"), [])


class Configuration(unittest.TestCase):
    """Files refused or accepted before anything is started."""

    def setUp(self):
        temp = tempfile.TemporaryDirectory(prefix="bridge-config-test-")
        self.addCleanup(temp.cleanup)
        self.directory = Path(temp.name)
        self.bridge = Bridge(self.directory)

    def write(self, buses):
        self.bridge.config.write_text(toml_config(free_port(), buses))
        return str(self.bridge.config)

    def test_check_accepts_a_good_file(self):
        path = self.write([("b1", "/dev/null", 5, [("1", "heat")]), ("b2", "tcp:127.0.0.1:1", 5, [])])
        code, output = self.bridge.run("--config", path, "--check")
        self.assertEqual(code, 0, output)

    def test_five_buses_are_refused_naming_the_file_the_line_and_the_limit(self):
        path = self.write([(f"b{i}", f"/dev/ttyUSB{i}", 5, []) for i in range(1, 6)])
        fifth = [i + 1 for i, l in enumerate(self.bridge.config.read_text().splitlines()) if l == "[[bus]]"][4]
        for args in (["--config", path, "--check"], ["--config", path]):
            with self.subTest(args=args):
                code, output = self.bridge.run(*args)
                self.assertEqual(code, EXIT_BAD_CONFIGURATION, output)
                match = re.search(re.escape(path) + r":(\d+): (\S*bus\S*): (.*)", output)
                self.assertIsNotNone(match, output)
                self.assertGreaterEqual(int(match.group(1)), fifth, output)
                self.assertIn("4", match.group(3), output)

    def test_bad_usage_exits_2(self):
        for args in (["--no-such-option"], ["--config"]):
            with self.subTest(args=args):
                code, output = self.bridge.run(*args)
                self.assertEqual(code, EXIT_BAD_USAGE, output)
                self.assertTrue(output.strip(), "no message")


if __name__ == "__main__":
    missing = [f"{name} ({path or 'not set'})" for name, path in
               (("MBUS_BRIDGE", BRIDGE), ("MBUS_SIM", SIM), ("MBUS_CONTROL_LIBRARY", LIBRARY), ("mosquitto", MOSQUITTO))
               if not path or not os.path.exists(path)]
    if missing:
        raise SystemExit("bridge_broker_test: missing: " + ", ".join(missing) +
                         "; run it through ctest, and install mosquitto (scripts/lib.sh's TEST_PACKAGES)")
    unittest.main(verbosity=2)
