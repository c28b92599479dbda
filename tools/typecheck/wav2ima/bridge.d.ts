export * from '../../../npm/bridge.js';
