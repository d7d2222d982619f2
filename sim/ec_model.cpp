#include "sim/ec_model.h"

#include <algorithm>

namespace hwtk3::sim {

EcModel::EcModel(Clock& clock)
    : clock_(clock),
      windows_{WindowState{0x381, &window381}, WindowState{0xFD61, &windowFD61}} {
    channels_[k62].data = 0x62;
    channels_[k62].command = 0x66;
    channels_[k25C].data = 0x25C;
    channels_[k25C].command = 0x25D;
    channels_[k68].data = 0x68;
    channels_[k68].command = 0x6C;

    // ACPI RD_EC / WR_EC with a one-byte index.
    SetCommand(k62, 0x80, 1, [this](const Bytes& p) {
        NoteRegisterRead(k62, p[0]);
        return Bytes{ReadRam(p[0])};
    });
    SetCommand(k62, 0x81, 2, [this](const Bytes& p) {
        NoteRegisterWrite(k62, p[0]);
        WriteRam(p[0], p[1]);
        return Bytes{};
    });
    // Firmware version: the text and its NUL, one byte per OBF.
    SetCommand(k62, 0xA1, 0, [this](const Bytes&) {
        Bytes answer(firmwareVersion.begin(), firmwareVersion.end());
        answer.push_back(0);
        if (firmwareSilentAfter >= 0 && static_cast<std::size_t>(firmwareSilentAfter) < answer.size()) {
            answer.resize(static_cast<std::size_t>(firmwareSilentAfter));
        }
        return answer;
    });
    // The same read and write with a two-byte address, high byte first.
    SetCommand(k25C, 0x80, 2, [this](const Bytes& p) {
        const auto address = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
        NoteRegisterRead(k25C, address);
        return Bytes{ReadRam(address)};
    });
    SetCommand(k25C, 0x81, 3, [this](const Bytes& p) {
        const auto address = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
        NoteRegisterWrite(k25C, address);
        WriteRam(address, p[2]);
        return Bytes{};
    });
}

void EcModel::SetCommand(Channel channel, std::uint8_t command, int parameterBytes, Handler handler) {
    channels_[channel].commands[command] = {parameterBytes, std::move(handler)};
}

void EcModel::RemoveCommand(Channel channel, std::uint8_t command) {
    channels_[channel].commands.erase(command);
}

std::uint8_t EcModel::ReadRam(std::uint16_t address) {
    auto hook = readHooks_.find(address);
    return hook != readHooks_.end() ? hook->second() : ram_[address];
}

void EcModel::WriteRam(std::uint16_t address, std::uint8_t value) {
    ram_[address] = value;
    auto hook = writeHooks_.find(address);
    if (hook != writeHooks_.end()) hook->second(value);
}

void EcModel::NoteRegisterRead(Channel channel, std::uint32_t key) {
    ChannelState& state = channels_[channel];
    state.readPending = true;
    state.readKey = key;
    state.readAnswered = false;
}

void EcModel::NoteRegisterWrite(Channel channel, std::uint32_t key) {
    const ChannelState& state = channels_[channel];
    if (state.readKey == key && !state.readAnswered) ++writesFromUnansweredReads;
}

void EcModel::SetReadHook(std::uint16_t address, std::function<std::uint8_t()> hook) {
    readHooks_[address] = std::move(hook);
}

void EcModel::SetWriteHook(std::uint16_t address, std::function<void(std::uint8_t)> hook) {
    writeHooks_[address] = std::move(hook);
}

EcModel::ChannelState* EcModel::ChannelFor(std::uint16_t port, int* index) {
    for (int i = 0; i < 3; ++i) {
        if (channels_[i].data == port || channels_[i].command == port) {
            *index = i;
            return &channels_[i];
        }
    }
    return nullptr;
}

EcModel::WindowState* EcModel::WindowFor(std::uint16_t port) {
    for (WindowState& window : windows_) {
        if (*window.present && port >= window.base && port < window.base + 3) return &window;
    }
    return nullptr;
}

bool EcModel::Decodes(std::uint16_t port) const {
    for (const ChannelState& channel : channels_) {
        if (channel.data == port || channel.command == port) return true;
    }
    for (const WindowState& window : windows_) {
        if (*window.present && port >= window.base && port < window.base + 3) return true;
    }
    return false;
}

EcModel::ChannelFaults EcModel::FaultsAt(int index, int access) const {
    if (FaultsEnded(access)) return ChannelFaults{};
    ChannelFaults effective = faults[index];
    for (const AccessFault* fault : {&accessFault, &alsoFault}) {
        const bool from = access >= fault->at;
        if (fault->kind == AccessFault::Kind::IbfStuckFrom && from) effective.ibfStuck = true;
        if (fault->kind == AccessFault::Kind::ObfNeverFrom && from) effective.obfNever = true;
        if (fault->kind == AccessFault::Kind::FloatingFrom && from) effective.floating = true;
    }
    return effective;
}

const EcModel::AccessFault* EcModel::StruckAt(int access) const {
    if (FaultsEnded(access)) return nullptr;
    for (const AccessFault* fault : {&accessFault, &alsoFault}) {
        const bool answerFault = fault->kind == AccessFault::Kind::DropAt || fault->kind == AccessFault::Kind::LateAt;
        if (answerFault && fault->at == access) return fault;
    }
    return nullptr;
}

// The answer the current access waits for (a status read) or takes (a data
// read: the byte already in the port is delivered, the rest is not) is
// taken back; a late one comes again `delayMs` from now, unless the EC
// takes a new command before then.
void EcModel::Withdraw(ChannelState& channel, bool statusRead, const AccessFault& fault) {
    std::deque<std::uint8_t> withdrawn;
    if (statusRead && channel.obf) {
        withdrawn.push_back(channel.dataLatch);
        channel.obf = false;
        channel.dataLatch = channel.priorLatch;
    }
    withdrawn.insert(withdrawn.end(), channel.output.begin(), channel.output.end());
    channel.output.clear();
    if (fault.kind == AccessFault::Kind::LateAt && !withdrawn.empty()) {
        channel.late = std::move(withdrawn);
        channel.lateAt = clock_.NowMs() + fault.delayMs;
    }
}

void EcModel::Update(ChannelState& channel, const ChannelFaults& channelFaults) {
    const std::uint64_t now = clock_.NowMs();
    if (channel.ibf && !channelFaults.ibfStuck && now >= channel.ibfClearAt) {
        channel.ibf = false;
        Take(channel, channel.ibfClearAt);
    }
    if (!channel.late.empty() && now >= channel.lateAt) {
        channel.output.insert(channel.output.end(), channel.late.begin(), channel.late.end());
        channel.late.clear();
        channel.nextReadyAt = std::min(channel.nextReadyAt, channel.lateAt);
    }
    if (!channel.obf && !channel.output.empty() && !channelFaults.obfNever && now >= channel.nextReadyAt) {
        channel.priorLatch = channel.dataLatch;
        channel.dataLatch = channel.output.front();
        channel.output.pop_front();
        channel.obf = true;
    }
}

void EcModel::Take(ChannelState& channel, std::uint64_t at) {
    const PendingByte byte = channel.pending;
    if (byte.isCommand) {
        // A command byte starts a new transaction and drops what is left of
        // the previous one's answer; a byte already in the data port stays.
        channel.output.clear();
        channel.late.clear();
        channel.parameters.clear();
        auto it = channel.commands.find(byte.value);
        if (it == channel.commands.end()) {
            channel.activeCommand = -1;
            ++unknownCommands;
            return;
        }
        channel.activeCommand = byte.value;
        channel.parametersExpected = it->second.first;
        if (channel.parametersExpected == 0) Run(channel, at);
        return;
    }
    if (channel.activeCommand < 0) {
        ++strayDataBytes;
        return;
    }
    channel.parameters.push_back(byte.value);
    if (static_cast<int>(channel.parameters.size()) == channel.parametersExpected) Run(channel, at);
}

void EcModel::Run(ChannelState& channel, std::uint64_t at) {
    const auto& handler = channel.commands[static_cast<std::uint8_t>(channel.activeCommand)].second;
    const Bytes answer = handler(channel.parameters);
    channel.activeCommand = -1;
    channel.parameters.clear();
    channel.output.assign(answer.begin(), answer.end());
    channel.nextReadyAt = at + AnswerLatency();
}

std::uint8_t EcModel::In(std::uint16_t port) {
    if (Decodes(port)) access_ = accesses_++;
    if (WindowState* window = WindowFor(port)) {
        if (port == window->base + 2) {
            return ReadRam(static_cast<std::uint16_t>(window->high << 8 | window->low));
        }
        return port == window->base ? window->high : window->low;
    }
    int index = 0;
    ChannelState* channel = ChannelFor(port, &index);
    if (channel == nullptr) return 0xFF;
    const ChannelFaults channelFaults = FaultsOf(index);
    if (channelFaults.floating) return 0xFF;  // nobody drives the bus
    Update(*channel, channelFaults);
    if (const AccessFault* fault = StruckAt(access_)) Withdraw(*channel, port == channel->command, *fault);
    if (port == channel->command) {
        const bool ibf = channel->ibf || channelFaults.ibfStuck;
        return static_cast<std::uint8_t>((channel->obf ? 0x01 : 0) | (ibf ? 0x02 : 0));
    }
    const std::uint8_t value = channel->dataLatch;
    if (channel->obf) {
        channel->obf = false;
        if (channel->readPending) {
            channel->readPending = false;
            channel->readAnswered = true;
        }
        channel->nextReadyAt = clock_.NowMs() + AnswerLatency();
        Update(*channel, channelFaults);
    }
    return value;
}

void EcModel::Out(std::uint16_t port, std::uint8_t value) {
    if (Decodes(port)) access_ = accesses_++;
    if (WindowState* window = WindowFor(port)) {
        if (port == window->base) {
            window->high = value;
        } else if (port == window->base + 1) {
            window->low = value;
        } else {
            WriteRam(static_cast<std::uint16_t>(window->high << 8 | window->low), value);
        }
        return;
    }
    int index = 0;
    ChannelState* channel = ChannelFor(port, &index);
    if (channel == nullptr) return;
    // Written while busy: the channel showed IBF (or floated) when the host
    // could last look; a fault that begins with this very byte could not
    // have been seen.
    const ChannelFaults seen = FaultsAt(index, access_ - 1);
    const ChannelFaults channelFaults = FaultsOf(index);
    if (channelFaults.floating) {  // nobody takes the byte
        if (seen.floating) ++bytesWhileBusy;
        return;
    }
    Update(*channel, channelFaults);
    if (channel->ibf || seen.ibfStuck || seen.floating) ++bytesWhileBusy;
    const AccessFault* fault = StruckAt(access_);
    const bool late = fault != nullptr && fault->kind == AccessFault::Kind::LateAt;
    channel->ibf = true;
    channel->ibfClearAt = clock_.NowMs() + (late ? fault->delayMs : latencyMs);
    channel->pending = PendingByte{port == channel->command, value};
    Update(*channel, channelFaults);
}

}  // namespace hwtk3::sim
